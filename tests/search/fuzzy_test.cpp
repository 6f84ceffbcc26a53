#include "search/fuzzy.h"

#include <gtest/gtest.h>

namespace varek::Fuzzy {
namespace {

TEST(FuzzyTarget, FindsWordStartsAtBlanksHumpsAndDigits) {
  struct Row {
    const char* name;
    std::string text;
    std::vector<int> wordStarts;
    std::string initials;
    std::string compact;
  } rows[] = {
      {"words after a blank", "Note Pad", {0, 5}, "np", "notepad"},
      {"camel-case hump", "quickNote", {0, 5}, "qn", "quicknote"},
      {"letter-digit boundaries", "mp3tool", {0, 2, 3}, "m3t", "mp3tool"},
      {"punctuation separates words", "Visual-Studio Code", {0, 7, 14}, "vsc", "visual-studiocode"},
      {"capitals in a row are one word", "HTMLEditor", {0}, "h", "htmleditor"},
      {"leading symbol is no word start", "(Beta) App", {1, 7}, "ba", "(beta)app"},
      {"non-breaking space is whitespace", "Foo\u00A0Bar", {0, 4}, "fb", "foobar"},
      {"no humps when folding changed the length", "Cafe\u0301Bar", {0}, "c", "cafebar"},
      {"sharp s lengthens the name: no humps", "StraßeNord", {0}, "s", "strassenord"},
      {"non-Latin letters are alphabetic", "Ωmega Δelta", {0, 6}, "ωδ", "ωmegaδelta"},
  };
  for (const auto& row : rows) {
    const Target target(row.text);
    EXPECT_EQ(target.wordStarts(), row.wordStarts) << row.name;
    EXPECT_EQ(target.initials(), row.initials) << row.name;
    EXPECT_EQ(target.compact(), row.compact) << row.name;
  }
  EXPECT_EQ(Target("Note Pad").compactCount(), 7);
  EXPECT_EQ(Target("Ωmega").compactCount(), 5);
}

// The first rule that applies decides, on one absolute scale.
TEST(FuzzyScore, AppliesTheFirstMatchingRule) {
  struct Row {
    const char* name;
    std::string query;
    std::string target;
    std::optional<double> expected;
  } rows[] = {
      {"empty query matches with zero", "", "Safari", 0},
      {"blank query matches with zero", "   ", "Safari", 0},
      {"query longer than the name", "safaris", "Safari", std::nullopt},
      {"exact, folded", "Über", "uber", 1000},
      {"exact ignores blanks in the query", "note pad", "Note Pad", 1000},
      {"exact ignores blanks in the name", "notepad", "Note Pad", 1000},
      {"prefix counts the unmatched scalars", "saf", "Safari", 900 - (6 - 3)},
      {"prefix across a blank", "notep", "Note Pad", 900 - (7 - 5)},
      {"long prefix falls below the initials band", "a", "a" + std::string(200, 'x'), 900 - 200},
      {"initials", "np", "Note Pad", 820 - (2 - 2)},
      {"initials prefix", "vs", "Visual Studio Code", 820 - (3 - 2)},
      {"one letter skips the initials rule", "p", "Note Pad", 760 - 5},
      {"later word start", "pad", "Note Pad", 760 - 5},
      {"first later word start wins", "co", "Visual Studio Code Code", 760 - 14},
      {"substring counts characters", "tep", "Note Pad", 600 - 2},
      {"substring after a multi-byte character", "ch", "Éclair Machine", 600 - 8},
      {"prefix of whole characters", "कि", "किताब", 900 - (5 - 2)},
      {"substring of whole characters", "ता", "किताब", 600 - 1},
      {"no prefix inside a character, only a subsequence", "か", "か\u3099", 300 + 12},
      {"no later word start inside a character", "क", "Buch किताब", 300 + 12},
      {"no substring inside a character", "त", "किताब", 300},
      {"subsequence with gaps", "sfr", "safari", 300 + 12 - 2 - 2},
      {"subsequence with word start after a gap", "ntp", "Note Pad", 300 + 12 - 2 + 12 - 4},
      {"adjacent scalars", "nopd", "Note Pad", 300 + 12 + 6 - 2 * 3 + 12 - 2},
      {"a gap costs at most sixteen", "ax", "a" + std::string(20, 'b') + "x", 300 + 12 - 16},
      {"adjacent bonuses stop under the substring band", std::string(120, 'x'),
       std::string(60, 'x') + "-" + std::string(60, 'x'), 598},
      {"word-start bonuses stop there too", "a1b2c3d4ef6g7h8i9j0k1l2m3n4o5p6q7r8s9t0",
       "a1b2c3d4e5f6g7h8i9j0k1l2m3n4o5p6q7r8s9t0", 598},
      {"no backtracking: letters out of order", "ba", "ab", std::nullopt},
      {"missing letter", "sfz", "safari", std::nullopt},
      {"invalid bytes match themselves", "\xED\xA0\x80", "\xED\xA0\x80", 1000},
      {"invalid bytes match nothing else", "a\x80", "\xC3", std::nullopt},
      {"a truncated sequence", "\xC3", "Safari", std::nullopt},
  };
  for (const auto& row : rows)
    EXPECT_EQ(score(Query(row.query), Target(row.target)), row.expected) << row.name;
}

// The scan turns a name away by a scalar it lacks, so that test must see the folded
// scalars of both sides, wherever folding changes them or a character spans several.
TEST(FuzzyTargets, MaskNeverTurnsAwayAMatch) {
  struct Row {
    const char* name;
    const char* query;
    std::optional<double> expected;
  } rows[] = {
      {"Straße", "STRASSE", 1000},           {"GRÖSSE", "größe", 1000},
      {"Übersicht", "ubers", 900 - (9 - 5)}, {"ｃａｆｅ", "Café", 1000},
      {"İstanbul", "istanbul", 1000},        {"ﬁle", "fi", 900 - (4 - 2)},
      {"Foo\u00A0Bar", "bar", 760 - 4},      {"日本語", "本", 600 - 1},
      {"Buch किताब", "क", 300 + 12},         {"か\u3099", "が", std::nullopt},
      {"Note Pad", "Ñ", 900 - (7 - 1)},      {"Note Pad", "ø", std::nullopt},
  };
  Targets targets;
  for (std::uint32_t item = 0; item < std::size(rows); ++item) targets.add(item, rows[item].name);
  for (std::size_t index = 0; index < std::size(rows); ++index) {
    EXPECT_EQ(targets.score(Query(rows[index].query), index), rows[index].expected)
        << rows[index].name;
  }
}

TEST(FuzzyTargets, AnItemMatchesWithItsBestName) {
  Targets targets;
  targets.add(0, "Rechner");
  targets.add(0, "Calculator");
  targets.add(1, "Kalkulation");
  targets.add(2, "Excel Calc");
  std::vector<std::pair<std::uint32_t, double>> found;
  targets.forEachMatch(Query("calc"),
                       [&](std::uint32_t item, double score) { found.emplace_back(item, score); });
  EXPECT_EQ(found,
            (std::vector<std::pair<std::uint32_t, double>>{{0, 900 - (10 - 4)}, {2, 760 - 6}}));
}

}  // namespace
}  // namespace varek::Fuzzy
