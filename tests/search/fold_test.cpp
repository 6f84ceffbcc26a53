#include "search/fold.h"

#include <gtest/gtest.h>

#include "search/unicode.h"

namespace varek {
namespace {

struct FoldRow {
  const char* name;
  std::string input;
  std::string folded;
};

// Case, accents and width fold away; letters without a decomposition and the marks of
// scripts beyond Cyrillic stay, and nothing is composed or decomposed along the way.
TEST(Fold, FoldsCaseDiacriticsAndWidthLikeThePlatform) {
  const FoldRow rows[] = {
      {"ascii is lower-cased", "Safari 2", "safari 2"},
      {"acute accent is dropped", "Café", "cafe"},
      {"sharp s folds to ss", "Straße", "strasse"},
      {"capital sharp s folds to ss", "GROẞ", "gross"},
      {"o with stroke has no decomposition", "ØRE", "øre"},
      {"l with stroke stays, acute on z goes", "Łódź", "łodz"},
      {"stacked Vietnamese marks go", "Việt", "viet"},
      {"Greek tonos goes", "Άλφα", "αλφα"},
      {"short i keeps its base", "Й", "и"},
      {"fullwidth letters and digits", "ＡＢＣ１２", "abc12"},
      {"halfwidth katakana widen", "ｱｲ", "アイ"},
      {"fullwidth yen sign", "￥", "¥"},
      {"ideographic space is not width-folded", "a\u3000b", "a\u3000b"},
      {"ligature unfolds", "ﬁle", "file"},
      {"dotted capital I", "İstanbul", "istanbul"},
      {"ohm sign", "Ω", "ω"},
      {"angstrom sign", "Å", "a"},
      {"combining acute after Latin base goes", "Cafe\u0301", "cafe"},
      {"precomposed kana keeps its voicing", "が", "が"},
      {"decomposed kana stays two scalars", "か\u3099", "か\u3099"},
      {"Hangul syllable stays one scalar", "한글", "한글"},
      {"conjoining jamo are not composed", "\u1100\u1161", "\u1100\u1161"},
      {"Arabic madda stays", "\u0622", "\u0622"},
      {"empty", "", ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(fold(row.input), row.folded) << row.name;
  }
}

TEST(Fold, ReplacesInvalidUtf8AndAlwaysYieldsValidUtf8) {
  const FoldRow rows[] = {
      {"lone continuation byte", "a\x80z", "a\uFFFDz"},
      {"truncated sequence at the end", "Caf\xC3", "caf\uFFFD"},
      {"overlong encoding of slash", "\xC0\xAFx", "\uFFFD\uFFFDx"},
      {"surrogate encoded in UTF-8", "\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},
  };
  for (const auto& row : rows) {
    const std::string folded = fold(row.input);
    EXPECT_EQ(folded, row.folded) << row.name;
    EXPECT_EQ(unicode::utf8(unicode::scalars(folded)), folded) << row.name;
  }
}

TEST(Unicode, CountsCharactersNotScalars) {
  struct Row {
    const char* name;
    std::string text;
    std::size_t characters;
  } rows[] = {
      {"ascii", "abc", 3},
      {"carriage return and line feed are one", "a\r\nb", 3},
      {"decomposed accent joins its base", "e\u0301x", 2},
      {"flag of two regional indicators", "🇩🇪x", 2},
      {"Hangul jamo join", "\u1100\u1161", 1},
      {"empty", "", 0},
  };
  for (const auto& row : rows) {
    const auto boundaries = unicode::characterBoundaries(row.text);
    EXPECT_EQ(boundaries.size(), row.characters + 1) << row.name;
    EXPECT_EQ(boundaries.back(), row.text.size()) << row.name;
  }
}

}  // namespace
}  // namespace varek
