#include "search/fold.h"

#include <gtest/gtest.h>

#include "search/unicode.h"

namespace varek {
namespace {

// Case, accents and width fold away; letters without a decomposition and the marks of
// scripts beyond Cyrillic stay, and nothing is composed or decomposed along the way.
// Invalid UTF-8 becomes U+FFFD, so the result is always valid.
TEST(Fold, FoldsCaseDiacriticsAndWidthLikeThePlatform) {
  // clang-format off
  const std::pair<std::string, std::string> rows[] = {
      // full case folding: ß, ẞ, ligatures, İ, the ohm and angstrom signs
      {"Safari 2", "safari 2"}, {"Straße", "strasse"}, {"GROẞ", "gross"}, {"ﬁle", "file"},
      {"İstanbul", "istanbul"}, {"Ω", "ω"}, {"Å", "a"},
      // marks on Latin, Greek and Cyrillic go; letters without a decomposition stay
      {"Café", "cafe"}, {"Cafe\u0301", "cafe"}, {"ØRE", "øre"}, {"Łódź", "łodz"},
      {"Việt", "viet"}, {"Άλφα", "αλφα"}, {"Й", "и"},
      // width: only the halfwidth and fullwidth forms, so not U+3000
      {"ＡＢＣ１２", "abc12"}, {"ｱｲ", "アイ"}, {"￥", "¥"}, {"a\u3000b", "a\u3000b"},
      // other scripts keep their marks, precomposed or not; jamo are not composed
      {"が", "が"}, {"か\u3099", "か\u3099"}, {"한글", "한글"}, {"\u1100\u1161", "\u1100\u1161"},
      {"\u0622", "\u0622"}, {"", ""},
      {"a\x80z", "a\uFFFDz"}, {"Caf\xC3", "caf\uFFFD"}, {"\xC0\xAFx", "\uFFFD\uFFFDx"},
      {"\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},
  };
  // clang-format on
  for (const auto& [input, expected] : rows) {
    const std::string folded = fold(input);
    EXPECT_EQ(folded, expected) << input;
    EXPECT_EQ(unicode::utf8(unicode::scalars(folded)), folded) << input;
  }
}

// Tab and every space separator are blanks; line breaks, U+200B and invalid bytes are not.
TEST(Unicode, TrimsBlanksButNotLineBreaks) {
  // clang-format off
  const std::pair<std::string, std::string> rows[] = {
      {" \tab\t ", "ab"}, {"\u3000", ""}, {"\u00A0a b\u2009\u202F", "a b"},
      {"\na\r\n", "\na\r\n"}, {"\u200Ba", "\u200Ba"}, {"\xA0 a", "\xA0 a"}};
  // clang-format on
  for (const auto& [text, trimmed] : rows) EXPECT_EQ(unicode::trimBlanks(text), trimmed) << text;
}

// A name is cut to a bounded length (here a few characters, and 32 bytes for each) without
// splitting a user-perceived character or a scalar.
TEST(Unicode, LeadingCharactersCutBetweenCharacters) {
  const std::string accent = "e\u0301";  // two scalars, one character
  std::string marks = "e";               // 1 + 2 × 100 bytes, one character
  for (int mark = 0; mark < 100; ++mark) marks += "\u0301";
  const std::tuple<const char*, std::string, std::size_t, std::string> rows[] = {
      {"a short text stays whole", "abc", 4, "abc"},
      {"ascii is cut", "abcdef", 4, "abcd"},
      {"two-byte letters stay whole", "ääää", 2, "ää"},
      {"a mark stays with its base", accent + accent + accent, 2, accent + accent},
      {"carriage return and line feed are one", "a\r\nb", 2, "a\r\n"},
      {"a flag is one", "🇩🇪🇩🇪x", 1, "🇩🇪"},
      {"conjoining jamo are one", "\u1100\u1161\u1100\u1161", 1, "\u1100\u1161"},
      {"a character beyond the byte bound goes whole", "a" + marks, 2, "a"},
      {"one character beyond it is cut between scalars", marks, 2, marks.substr(0, 63)},
  };
  for (const auto& [name, text, limit, kept] : rows) {
    EXPECT_EQ(unicode::leadingCharacters(text, limit), kept) << name;
  }
}

}  // namespace
}  // namespace varek
