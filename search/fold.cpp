#include "search/fold.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "search/unicode.h"

namespace varek {
namespace {

// Only the halfwidth and fullwidth forms block is width-folded; U+3000 and other
// compatibility characters stay as they are.
constexpr char32_t kWidthFirst = 0xFF00;
constexpr char32_t kWidthLast = 0xFFEF;
// Diacritics are removed only from Latin, Greek and Cyrillic (bases below U+0510). Other
// scripts keep their marks, since there they tell letters apart (か and が).
constexpr char32_t kDiacriticBaseLimit = 0x0510;

const icu::Normalizer2& normalizer(bool compatibility) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* instance = compatibility ? icu::Normalizer2::getNFKDInstance(status)
                                                   : icu::Normalizer2::getNFDInstance(status);
  return *instance;
}

char32_t firstScalar(const icu::UnicodeString& text) {
  return static_cast<char32_t>(text.char32At(0));
}

char32_t foldWidth(char32_t scalar) {
  if (scalar < kWidthFirst || scalar > kWidthLast) return scalar;
  icu::UnicodeString decomposition;
  if (!normalizer(true).getDecomposition(static_cast<UChar32>(scalar), decomposition))
    return scalar;
  return firstScalar(decomposition);
}

bool isMark(char32_t scalar) {
  return u_hasBinaryProperty(static_cast<UChar32>(scalar), UCHAR_GRAPHEME_EXTEND);
}

// Replaces each decomposable Latin, Greek or Cyrillic letter by its base and drops the
// combining marks that follow such a base; other scripts pass through precomposed.
std::u32string stripDiacritics(const std::u32string& text) {
  std::u32string result;
  result.reserve(text.size());
  char32_t base = 0;
  bool hasBase = false;
  for (char32_t scalar : text) {
    if (scalar < 0x80) {  // ASCII is neither a mark nor decomposable
      result.push_back(scalar);
      base = scalar;
      hasBase = true;
      continue;
    }
    if (isMark(scalar) && hasBase) {
      if (base >= kDiacriticBaseLimit) result.push_back(scalar);
      continue;
    }
    char32_t kept = scalar;
    icu::UnicodeString decomposition;
    if (scalar >= 0x80 &&
        normalizer(false).getDecomposition(static_cast<UChar32>(scalar), decomposition)) {
      char32_t decomposedBase = firstScalar(decomposition);
      if (decomposedBase < kDiacriticBaseLimit) kept = decomposedBase;
    }
    result.push_back(kept);
    base = kept;
    hasBase = !isMark(kept);
  }
  return result;
}

bool isAscii(std::string_view text) {
  for (unsigned char byte : text) {
    if (byte >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::string fold(std::string_view text) {
  // Most names are plain ASCII, where folding is lower-casing.
  if (isAscii(text)) {
    std::string lower(text);
    for (char& byte : lower) {
      if (byte >= 'A' && byte <= 'Z') byte = static_cast<char>(byte - 'A' + 'a');
    }
    return lower;
  }
  std::u32string scalars = unicode::scalars(text);
  for (char32_t& scalar : scalars) scalar = foldWidth(scalar);
  std::u32string stripped = stripDiacritics(scalars);

  icu::UnicodeString caseFolded = icu::UnicodeString::fromUTF32(
      reinterpret_cast<const UChar32*>(stripped.data()), static_cast<int32_t>(stripped.size()));
  caseFolded.foldCase(U_FOLD_CASE_DEFAULT);

  // Full case folding can itself produce a base with a mark (İ → i + U+0307).
  std::u32string folded(static_cast<std::size_t>(caseFolded.countChar32()), U'\0');
  UErrorCode status = U_ZERO_ERROR;
  caseFolded.toUTF32(reinterpret_cast<UChar32*>(folded.data()), static_cast<int32_t>(folded.size()),
                     status);
  return unicode::utf8(stripDiacritics(folded));
}

}  // namespace varek
