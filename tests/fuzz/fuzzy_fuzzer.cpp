// Folding and the matcher on arbitrary bytes. The bytes up to the first NUL (or the first
// half, without one) name a target, the rest is typed as a query.
#include <algorithm>
#include <cstdint>
#include <functional>

#include "search/fold.h"
#include "search/fuzzy.h"
#include "search/unicode.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using varek::fuzz::isValidUtf8;
using varek::fuzz::require;

void checkFolding(std::string_view text) {
  const std::string folded = varek::fold(text);
  require(isValidUtf8(folded), "fold yields valid UTF-8");
  // The search also counts the characters of raw typed text, which may be invalid UTF-8.
  for (const std::string_view measured : {std::string_view(folded), text}) {
    const auto boundaries = varek::unicode::characterBoundaries(measured);
    require(!boundaries.empty() && boundaries.front() == 0 && boundaries.back() == measured.size(),
            "character boundaries span the text");
    require(std::adjacent_find(boundaries.begin(), boundaries.end(), std::greater_equal<>()) ==
                boundaries.end(),
            "character boundaries rise");
  }
  require(isValidUtf8(varek::unicode::lowercase(text)) || !isValidUtf8(text),
          "lower-casing valid text yields valid text");
}

// The greedy walk finds a subsequence whenever one exists.
bool isSubsequence(const std::vector<char32_t>& query, const std::u32string& target) {
  std::size_t next = 0;
  for (char32_t scalar : target) next += next < query.size() && scalar == query[next];
  return next == query.size();
}

void checkScore(const varek::Fuzzy::Query& query, const varek::Fuzzy::Target& target) {
  const auto score = varek::Fuzzy::score(query, target);
  if (query.scalars.empty()) return require(score == 0.0, "an empty query matches with 0");
  // Every rule matches the query's scalars in order within the name's, and the last rule
  // finds any such subsequence; so the matcher is exactly the subsequence test.
  require(score.has_value() == isSubsequence(query.scalars, target.full()),
          "a match is exactly a subsequence");
  if (!score) return;
  require(*score <= 1000, "no score above the whole name");
  require((*score == 1000) == (query.compact == target.compact()), "1000 only for the whole name");
  // The contiguous rules subtract at most the m - n scalars outside the match from 600 or
  // more; the scattered one loses at most 16 on each of its n - 1 gaps.
  const auto n = static_cast<double>(query.scalars.size());
  const auto m = static_cast<double>(target.full().size());
  require(*score >= std::min(600 - (m - n), 300 - 16 * (n - 1)),
          "score within the derived lower bound");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = bytes.find('\0');
  const bool hasCut = cut != std::string_view::npos;
  const std::string_view name = bytes.substr(0, hasCut ? cut : size / 2);
  const std::string_view typed = bytes.substr(hasCut ? cut + 1 : size / 2);
  checkFolding(bytes);

  const varek::Fuzzy::Target target(name);
  const std::vector<int> wordStarts = target.wordStarts();
  require(std::is_sorted(wordStarts.begin(), wordStarts.end()), "word starts ascend");
  checkScore(varek::Fuzzy::Query(typed), target);

  // The same text as name and as query is the whole name, or the empty query when blank.
  const varek::Fuzzy::Query self(bytes);
  const auto selfScore = varek::Fuzzy::score(self, varek::Fuzzy::Target(bytes));
  require(selfScore == (self.scalars.empty() ? 0.0 : 1000.0), "a text matches itself fully");
  return 0;
}
