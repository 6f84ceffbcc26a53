#include "search/fuzzy.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <limits>
#include <stdexcept>

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
// What the rules return when none applies: below every score.
constexpr double kNoMatch = -std::numeric_limits<double>::infinity();

// The mask's bits: one per ASCII letter and digit, which is what most names and queries
// are made of, twelve shared by the other ASCII scalars and sixteen by all the rest.
constexpr unsigned kDigitBits = 26;
constexpr unsigned kOtherAsciiBits = kDigitBits + 10;
constexpr unsigned kOtherAsciiBitCount = 12;
constexpr unsigned kNonAsciiBits = kOtherAsciiBits + kOtherAsciiBitCount;
constexpr unsigned kNonAsciiBitCount = 64 - kNonAsciiBits;

std::uint64_t maskBit(char32_t scalar) {
  unsigned bit;
  if (scalar >= U'a' && scalar <= U'z') {
    bit = scalar - U'a';
  } else if (scalar >= U'0' && scalar <= U'9') {
    bit = kDigitBits + (scalar - U'0');
  } else if (scalar < 0x80) {
    bit = kOtherAsciiBits + scalar % kOtherAsciiBitCount;
  } else {
    bit = kNonAsciiBits + scalar % kNonAsciiBitCount;
  }
  return std::uint64_t{1} << bit;
}

bool isAsciiDigit(char32_t scalar) { return scalar >= U'0' && scalar <= U'9'; }

bool isAsciiLetter(char32_t scalar) {
  return (scalar >= U'a' && scalar <= U'z') || (scalar >= U'A' && scalar <= U'Z');
}

// ASCII answers without ICU: its only alphabetic scalars are the letters, its only
// upper- and lower-case ones A–Z and a–z, its only White_Space ones tab to CR and space.
bool isAlphanumeric(char32_t scalar) {
  if (scalar < 0x80) return isAsciiDigit(scalar) || isAsciiLetter(scalar);
  return u_hasBinaryProperty(static_cast<UChar32>(scalar), UCHAR_ALPHABETIC);
}

bool isUpper(char32_t scalar) {
  if (scalar < 0x80) return scalar >= U'A' && scalar <= U'Z';
  return u_hasBinaryProperty(static_cast<UChar32>(scalar), UCHAR_UPPERCASE);
}

bool isLower(char32_t scalar) {
  if (scalar < 0x80) return scalar >= U'a' && scalar <= U'z';
  return u_hasBinaryProperty(static_cast<UChar32>(scalar), UCHAR_LOWERCASE);
}

bool isWhitespace(char32_t scalar) {
  if (scalar < 0x80) return scalar == U' ' || (scalar >= U'\t' && scalar <= U'\r');
  return unicode::isWhitespace(scalar);
}

// A hump inside a run of letters and digits: quickNote at N, mp3tool at 3 and t.
bool isInnerBoundary(char32_t previous, char32_t current) {
  if (isUpper(current) && isLower(previous)) return true;
  return isAsciiDigit(previous) != isAsciiDigit(current);
}

bool isAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char byte) { return static_cast<unsigned char>(byte) < 0x80; });
}

std::string withoutWhitespace(const std::u32string& folded) {
  std::string compact;
  compact.reserve(folded.size());
  for (char32_t scalar : folded) {
    if (!isWhitespace(scalar)) unicode::appendUtf8(compact, scalar);
  }
  return compact;
}

std::size_t utf8Length(char32_t scalar) {
  return scalar < 0x80 ? 1 : scalar < 0x800 ? 2 : scalar < 0x10000 ? 3 : 4;
}

// Whether a character begins at each index of full, and at its end; empty when every
// character is one scalar, so that every index is a boundary.
std::vector<std::uint8_t> characterStarts(const std::string& folded, const std::u32string& full) {
  // In ASCII text only a carriage return before a line feed is not a character by itself.
  if (folded.size() == full.size() && folded.find("\r\n") == std::string::npos) return {};
  const auto boundaries = unicode::characterBoundaries(folded);
  if (boundaries.size() == full.size() + 1) return {};
  std::vector<std::uint8_t> starts(full.size() + 1, 0);
  std::size_t index = 0, offset = 0;
  for (std::size_t boundary : boundaries) {
    for (; offset < boundary && index < full.size(); ++index) offset += utf8Length(full[index]);
    starts[index] = 1;
  }
  return starts;
}

// Whether a character begins at each byte of compact, and at its end; empty when each
// byte is a character.
std::vector<std::uint8_t> compactStarts(const std::string& compact) {
  if (isAscii(compact)) return {};
  const auto boundaries = unicode::characterBoundaries(compact);
  if (boundaries.size() == compact.size() + 1) return {};
  std::vector<std::uint8_t> starts(compact.size() + 1, 0);
  for (std::size_t boundary : boundaries) starts[boundary] = 1;
  return starts;
}

// Offsets into the shared arrays are 32 bits wide, which keeps the layouts small; no index
// of names comes near four gigabytes.
std::uint32_t narrow(std::size_t value) {
  if (value >= std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("Fuzzy::Targets holds more than 4 GiB");
  }
  return static_cast<std::uint32_t>(value);
}

// A prepared name as the rules read it. Char is char where the folded name is ASCII and
// each scalar one byte, char32_t elsewhere.
template <typename Char>
struct Name {
  std::string_view compact;
  std::string_view initials;
  int compactCount;
  const Char* full;
  std::size_t fullCount;
  const std::uint32_t* wordStarts;
  std::size_t wordStartCount;
  const std::uint8_t* compactStarts;  // null when every byte starts a character
  const std::uint8_t* fullStarts;     // null when every scalar starts a character

  bool isCompactBoundary(std::size_t offset) const {
    return compactStarts == nullptr || compactStarts[offset] != 0;
  }
  // A prefix or substring counts only from and up to such boundaries: "か" must not match
  // the first half of "か" + U+3099 (が), nor "क" the first scalar of "कि".
  bool isFullBoundary(std::size_t index) const {
    return fullStarts == nullptr || fullStarts[index] != 0;
  }
  // Characters (not bytes, not scalars) of compact that lie before byte offset.
  int charactersBefore(std::size_t offset) const {
    if (compactStarts == nullptr) return static_cast<int>(offset);
    return static_cast<int>(std::count(compactStarts, compactStarts + offset, 1));
  }
};

// Names and queries are a few bytes long, too short to pay for a call to memcmp.
template <typename Char, typename Typed>
bool sameScalars(const Char* text, const Typed* typed, std::size_t count) {
  for (std::size_t index = 0; index < count; ++index) {
    if (static_cast<char32_t>(text[index]) != static_cast<char32_t>(typed[index])) return false;
  }
  return true;
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && sameScalars(text.data(), prefix.data(), prefix.size());
}

// Where text holds part at or after from, or npos.
std::size_t occurrence(std::string_view text, std::string_view part, std::size_t from) {
  if (part.size() > text.size()) return std::string_view::npos;
  for (std::size_t offset = from; offset <= text.size() - part.size(); ++offset) {
    if (text[offset] == part[0] && sameScalars(text.data() + offset, part.data(), part.size())) {
      return offset;
    }
  }
  return std::string_view::npos;
}

template <typename Char, typename Typed>
double subsequence(const Name<Char>& name, const Typed* typed, std::size_t n) {
  double score = kSubsequence;
  std::size_t next = 0;
  // The word starts ascend, as the walk does, so one cursor answers "is this a word start".
  std::size_t wordStart = 0;
  std::optional<std::size_t> previous;
  for (std::size_t index = 0; index < name.fullCount; ++index) {
    if (static_cast<char32_t>(name.full[index]) != static_cast<char32_t>(typed[next])) continue;
    while (wordStart < name.wordStartCount && name.wordStarts[wordStart] < index) ++wordStart;
    if (wordStart < name.wordStartCount && name.wordStarts[wordStart] == index) {
      score += kWordStartBonus;
    }
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
  return kNoMatch;
}

// The rules in order; typed holds the query's n scalars in the name's width.
template <typename Char, typename Typed>
double rateName(const Name<Char>& name, const Query& query, const Typed* typed) {
  const std::size_t n = query.scalars.size();
  const std::size_t m = name.fullCount;
  const std::string_view compact = query.compact;
  if (name.compact.size() == compact.size() && startsWith(name.compact, compact)) return kExact;
  if (startsWith(name.compact, compact) && name.isCompactBoundary(compact.size())) {
    return kPrefix - (name.compactCount - static_cast<int>(n));
  }
  if (n >= 2 && startsWith(name.initials, compact)) {
    return kInitials - (static_cast<int>(name.wordStartCount) - static_cast<int>(n));
  }
  for (std::size_t index = 0; index < name.wordStartCount; ++index) {
    const std::size_t start = name.wordStarts[index];
    if (start < 1) continue;
    if (start > m - n) break;
    if (sameScalars(name.full + start, typed, n) && name.isFullBoundary(start) &&
        name.isFullBoundary(start + n)) {
      return kWordStart - static_cast<double>(start);
    }
  }
  for (auto found = occurrence(name.compact, compact, 0); found != std::string_view::npos;
       found = occurrence(name.compact, compact, found + 1)) {
    if (name.isCompactBoundary(found) && name.isCompactBoundary(found + compact.size())) {
      return kSubstring - name.charactersBefore(found);
    }
  }
  return subsequence(name, typed, n);
}

}  // namespace

Query::Query(std::string_view text) {
  compact = withoutWhitespace(unicode::scalars(fold(text)));
  const std::u32string decoded = unicode::scalars(compact);
  scalars.assign(decoded.begin(), decoded.end());
  for (char32_t scalar : scalars) mask |= maskBit(scalar);
  ascii = compact.size() == scalars.size();
}

std::uint32_t Targets::append(std::string_view bytes) {
  const std::uint32_t offset = narrow(bytes_.size());
  bytes_.append(bytes);
  narrow(bytes_.size());
  return offset;
}

void Targets::add(std::uint32_t item, std::string_view name) {
  const std::string folded = fold(name);
  const std::u32string raw = unicode::scalars(name);
  const std::u32string full = unicode::scalars(folded);
  // Case can only be read position by position when folding kept every scalar in place.
  const bool sameLength = raw.size() == full.size();

  Layout layout{};
  layout.wordStarts = narrow(wordStarts_.size());
  std::string initials;
  std::uint64_t mask = 0;
  for (std::size_t index = 0; index < full.size(); ++index) {
    mask |= maskBit(full[index]);
    if (!isAlphanumeric(full[index])) continue;
    const bool start = index == 0 || !isAlphanumeric(full[index - 1]) ||
                       (sameLength && isInnerBoundary(raw[index - 1], raw[index]));
    if (!start) continue;
    wordStarts_.push_back(narrow(index));
    unicode::appendUtf8(initials, full[index]);
  }
  layout.wordStartCount = narrow(wordStarts_.size() - layout.wordStarts);

  const std::string compact = withoutWhitespace(full);
  layout.compactBytes = narrow(compact.size());
  layout.initialsBytes = narrow(initials.size());
  layout.compactCount = narrow(static_cast<std::size_t>(std::count_if(
      full.begin(), full.end(), [](char32_t scalar) { return !isWhitespace(scalar); })));
  layout.text = append(compact);
  append(initials);

  // Folding yields valid UTF-8, so one byte a scalar means ASCII.
  layout.fullAscii = folded.size() == full.size();
  layout.fullCount = narrow(full.size());
  if (layout.fullAscii) {
    layout.full = append(folded);
  } else {
    layout.full = narrow(scalars_.size());
    scalars_.append(full);
    narrow(scalars_.size());
  }

  layout.compactStarts = layout.fullStarts = kEvery;
  if (const auto starts = compactStarts(compact); !starts.empty()) {
    layout.compactStarts = narrow(starts_.size());
    starts_.insert(starts_.end(), starts.begin(), starts.end());
  }
  if (const auto starts = characterStarts(folded, full); !starts.empty()) {
    layout.fullStarts = narrow(starts_.size());
    starts_.insert(starts_.end(), starts.begin(), starts.end());
  }
  narrow(starts_.size());

  masks_.push_back(mask);
  items_.push_back(item);
  layouts_.push_back(layout);
}

double Targets::rate(const Query& query, const Layout& layout) const {
  static_assert(kMiss == kNoMatch);
  if (query.scalars.empty()) return 0.0;
  if (layout.fullCount < query.scalars.size()) return kNoMatch;
  const char* text = bytes_.data() + layout.text;
  const auto name = [&]<typename Char>(const Char* full) {
    return Name<Char>{
        .compact = {text, layout.compactBytes},
        .initials = {text + layout.compactBytes, layout.initialsBytes},
        .compactCount = static_cast<int>(layout.compactCount),
        .full = full,
        .fullCount = layout.fullCount,
        .wordStarts = wordStarts_.data() + layout.wordStarts,
        .wordStartCount = layout.wordStartCount,
        .compactStarts =
            layout.compactStarts == kEvery ? nullptr : starts_.data() + layout.compactStarts,
        .fullStarts = layout.fullStarts == kEvery ? nullptr : starts_.data() + layout.fullStarts,
    };
  };
  if (!layout.fullAscii) {
    return rateName(name(scalars_.data() + layout.full), query, query.scalars.data());
  }
  // An ASCII name holds no scalar of a query that is not ASCII itself.
  if (!query.ascii) return kNoMatch;
  return rateName(name(bytes_.data() + layout.full), query, query.compact.data());
}

std::string_view Targets::compact(std::size_t index) const {
  return {bytes_.data() + layouts_[index].text, layouts_[index].compactBytes};
}

int Targets::compactCount(std::size_t index) const {
  return static_cast<int>(layouts_[index].compactCount);
}

std::string_view Targets::initials(std::size_t index) const {
  const Layout& layout = layouts_[index];
  return {bytes_.data() + layout.text + layout.compactBytes, layout.initialsBytes};
}

std::vector<int> Targets::wordStarts(std::size_t index) const {
  const Layout& layout = layouts_[index];
  const auto* first = wordStarts_.data() + layout.wordStarts;
  return {first, first + layout.wordStartCount};
}

std::u32string Targets::full(std::size_t index) const {
  const Layout& layout = layouts_[index];
  if (!layout.fullAscii) return scalars_.substr(layout.full, layout.fullCount);
  const char* first = bytes_.data() + layout.full;
  return {first, first + layout.fullCount};
}

}  // namespace varek::Fuzzy
