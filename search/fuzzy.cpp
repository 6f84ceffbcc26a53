#include "search/fuzzy.h"

#include <unicode/uchar.h>

#include <algorithm>

#include "search/fold.h"
#include "search/unicode.h"

namespace varek::Fuzzy {
namespace {

constexpr double kExact = 1000;
constexpr double kPrefix = 900;
constexpr double kInitials = 820;
constexpr double kWordStart = 760;
constexpr double kSubstring = 600;
// A scattered subsequence starts here and moves by the bonuses and costs below, so it
// stays under every contiguous match while still ordering subsequences among themselves.
constexpr double kSubsequence = 300;
constexpr double kWordStartBonus = 12;
constexpr double kAdjacentBonus = 6;
constexpr double kGapCostPerScalar = 2;
// Past eight skipped scalars a gap costs no more, so a long name is not buried.
constexpr int kGapCostLimit = 8;
// The best match of the substring rule lies one character in (at the start it would be a
// prefix) and scores kSubstring - 1; a scattered match stays below it. Without this cap the
// bonuses of a long query lift it past every contiguous match, even past the whole name.
constexpr double kSubsequenceCeiling = kSubstring - 2;

bool isAsciiDigit(char32_t scalar) { return scalar >= U'0' && scalar <= U'9'; }

bool isAlphanumeric(char32_t scalar) {
  return isAsciiDigit(scalar) ||
         u_hasBinaryProperty(static_cast<UChar32>(scalar), UCHAR_ALPHABETIC);
}

bool isUpper(char32_t scalar) {
  return u_hasBinaryProperty(static_cast<UChar32>(scalar), UCHAR_UPPERCASE);
}

bool isLower(char32_t scalar) {
  return u_hasBinaryProperty(static_cast<UChar32>(scalar), UCHAR_LOWERCASE);
}

// A hump inside a run of letters and digits: quickNote at N, mp3tool at 3 and t.
bool isInnerBoundary(char32_t previous, char32_t current) {
  if (isUpper(current) && isLower(previous)) return true;
  return isAsciiDigit(previous) != isAsciiDigit(current);
}

std::string withoutWhitespace(std::string_view folded) {
  std::string compact;
  compact.reserve(folded.size());
  for (char32_t scalar : unicode::scalars(folded)) {
    if (!unicode::isWhitespace(scalar)) unicode::appendUtf8(compact, scalar);
  }
  return compact;
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.starts_with(prefix); }

std::size_t utf8Length(char32_t scalar) {
  return scalar < 0x80 ? 1 : scalar < 0x800 ? 2 : scalar < 0x10000 ? 3 : 4;
}

// Whether a character begins at each index of full, and at its end; empty when every
// character is one scalar, so that every index is a boundary.
std::vector<bool> characterStarts(const std::string& folded, const std::vector<char32_t>& full) {
  // In ASCII text only a carriage return before a line feed is not a character by itself.
  if (folded.size() == full.size() && folded.find("\r\n") == std::string::npos) return {};
  const auto boundaries = unicode::characterBoundaries(folded);
  if (boundaries.size() == full.size() + 1) return {};
  std::vector<bool> starts(full.size() + 1, false);
  std::size_t index = 0, offset = 0;
  for (std::size_t boundary : boundaries) {
    for (; offset < boundary && index < full.size(); ++index) offset += utf8Length(full[index]);
    starts[index] = true;
  }
  return starts;
}

// Characters (not bytes, not scalars) of compact that lie before byte offset.
int charactersBefore(const Target& target, std::size_t offset) {
  if (target.compactBoundaries.empty()) return static_cast<int>(offset);
  auto found =
      std::lower_bound(target.compactBoundaries.begin(), target.compactBoundaries.end(), offset);
  return static_cast<int>(found - target.compactBoundaries.begin());
}

std::optional<double> subsequence(const Query& query, const Target& target) {
  const std::size_t n = query.scalars.size();
  double score = kSubsequence;
  std::size_t next = 0;
  std::optional<std::size_t> previous;
  for (std::size_t index = 0; index < target.full.size(); ++index) {
    if (target.full[index] != query.scalars[next]) continue;
    if (target.isWordStart(index)) score += kWordStartBonus;
    if (previous) {
      if (index == *previous + 1) {
        score += kAdjacentBonus;
      } else {
        const auto skipped = static_cast<int>(index - *previous - 1);
        score -= kGapCostPerScalar * std::min(skipped, kGapCostLimit);
      }
    }
    if (++next == n) return std::min(score, kSubsequenceCeiling);
    previous = index;
  }
  return std::nullopt;
}

}  // namespace

Target::Target(std::string_view name) {
  const std::string folded = fold(name);
  const std::u32string raw = unicode::scalars(name);
  const std::u32string foldedScalars = unicode::scalars(folded);
  full.assign(foldedScalars.begin(), foldedScalars.end());
  // Case can only be read position by position when folding kept every scalar in place.
  const bool sameLength = raw.size() == full.size();

  wordStartSet.assign(full.size(), false);
  for (std::size_t index = 0; index < full.size(); ++index) {
    if (!isAlphanumeric(full[index])) continue;
    const bool start = index == 0 || !isAlphanumeric(full[index - 1]) ||
                       (sameLength && isInnerBoundary(raw[index - 1], raw[index]));
    if (!start) continue;
    wordStarts.push_back(static_cast<int>(index));
    wordStartSet[index] = true;
    unicode::appendUtf8(initials, full[index]);
  }

  compact = withoutWhitespace(folded);
  compactCount = static_cast<int>(unicode::scalars(compact).size());
  const auto boundaries = unicode::characterBoundaries(compact);
  if (boundaries.size() != compact.size() + 1) compactBoundaries = boundaries;
  fullBoundaries = characterStarts(folded, full);
}

bool Target::isCompactBoundary(std::size_t offset) const {
  return compactBoundaries.empty() ||
         std::binary_search(compactBoundaries.begin(), compactBoundaries.end(), offset);
}

Query::Query(std::string_view text) : compact(withoutWhitespace(fold(text))) {
  const std::u32string decoded = unicode::scalars(compact);
  scalars.assign(decoded.begin(), decoded.end());
}

std::optional<double> score(const Query& query, const Target& target) {
  const auto n = static_cast<int>(query.scalars.size());
  const auto m = static_cast<int>(target.full.size());
  if (n == 0) return 0.0;
  if (m < n) return std::nullopt;
  if (target.compact == query.compact) return kExact;
  if (startsWith(target.compact, query.compact) && target.isCompactBoundary(query.compact.size())) {
    return kPrefix - (target.compactCount - n);
  }
  if (n >= 2 && startsWith(target.initials, query.compact)) {
    return kInitials - (static_cast<int>(target.wordStarts.size()) - n);
  }
  for (int start : target.wordStarts) {
    if (start < 1) continue;
    if (start > m - n) break;
    if (std::equal(query.scalars.begin(), query.scalars.end(), target.full.begin() + start) &&
        target.isFullBoundary(start) && target.isFullBoundary(start + n)) {
      return kWordStart - start;
    }
  }
  const std::size_t length = query.compact.size();
  for (auto found = target.compact.find(query.compact); found != std::string::npos;
       found = target.compact.find(query.compact, found + 1)) {
    if (target.isCompactBoundary(found) && target.isCompactBoundary(found + length)) {
      return kSubstring - charactersBefore(target, found);
    }
  }
  return subsequence(query, target);
}

}  // namespace varek::Fuzzy
