#include "platform/linux/dictd_dictionary.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "tests/support/files.h"

namespace varek {
namespace {

namespace fs = std::filesystem;

// Made by tests/data/dictd/make.sh: "varek-test" (dictzip, three chunks),
// "varek-zusatz-gzip" (gzip without a chunk table), "varek-zusatz-plain" (uncompressed).
const fs::path kData = fs::path(VAREK_TEST_DATA) / "dictd";

const char* const kBaum = "Baum /baʊm/ <m>\n   tree";

TEST(DictdDictionaryTest, FindsTheWholeTextIgnoringCase) {
  const std::tuple<const char*, std::string, std::optional<std::string>> rows[] = {
      {"a headword", "baum", kBaum},
      // the body holds the senses in another order than the index
      {"capitals in the text; all senses in the order of the body", "HAUS",
       "Haus /haʊs/ <n>\n   house; home\n\nHaus <n>\n   [adm.] establishment, institution"
       "\n\nHaus <n>\n   household"},
      {"capitals in the index", "zug", "Zug /tsuːk/ <m>\n   train; draught; move (in a game)"},
      {"an umlaut in capitals", "BRÜCKE", "Brücke /ˈbʁʏkə/ <f>\n   bridge"},
      {"an entry of several lines", "Schnee",
       "Schnee /ʃneː/ <m>\n   1. snow\n   2. beaten egg white"},
      {"an entry across a chunk border", "regenschirm",
       "Regenschirm /ˈʁeːɡn̩ʃɪʁm/ <m>\n   umbrella\n"
       "   einen Regenschirm aufspannen: to put up an umbrella\n"
       "   den Regenschirm zuklappen: to fold the umbrella\n"
       "   unter einen Regenschirm passen: to fit under one umbrella"},
      {"the database first by name answers", "tee", "Tee <m>\n   tea (from the gzip dictionary)"},
      {"a gzip file without a chunk table", "kaffee", "Kaffee <m>\n   coffee"},
      {"an uncompressed database", "milch", "Milch <f>\n   milk"},
  };
  const DictdDictionary dictionary({kData.string()});
  for (const auto& [shows, text, definition] : rows) {
    EXPECT_EQ(dictionary.definition(text), definition) << shows;
  }
  // Unknown words, the start of a headword, blanks around one, metadata entries.
  for (const char* text : {"fenster", "bau", " haus", "", "00databaseshort", "00-database-info"}) {
    EXPECT_EQ(dictionary.definition(text), std::nullopt) << text;
  }
}

TEST(DictdDictionaryTest, MissingOrDamagedDatabasesYieldNothing) {
  const std::string index = test::readFile(kData / "varek-test.index");
  const std::string body = test::readFile(kData / "varek-test.dict.dz");
  // The compressed data begins after the stored file name, which ends the header.
  const std::size_t dataStart = body.find(std::string("varek-test.dict") + '\0') + 16;
  std::string zeroedStart = body;
  zeroedStart.replace(dataStart, 64, std::string(64, '\0'));
  const std::string plain = "Haus\n   house\n";
  using Files = std::map<std::string, std::string>;
  // What is there, and whether an entry in the first and one in the last chunk is readable.
  const std::tuple<const char*, Files, bool, bool> rows[] = {
      {"no folder", {}, false, false},
      {"an index without its body", {{"v.index", index}}, false, false},
      {"an empty index", {{"v.index", ""}, {"v.dict.dz", body}}, false, false},
      {"a header cut off", {{"v.index", index}, {"v.dict.dz", body.substr(0, 20)}}, false, false},
      {"data cut off", {{"v.index", index}, {"v.dict.dz", body.substr(0, 3000)}}, false, false},
      {"a body that is not gzip", {{"v.index", index}, {"v.dict.dz", plain}}, false, false},
      {"an entry past the end", {{"v.index", "baum\tBAAA\tQ\n"}, {"v.dict", plain}}, false, false},
      {"numbers not in base64", {{"v.index", "baum\tA-\tQ\n"}, {"v.dict", plain}}, false, false},
      {"first chunk zeroed", {{"v.index", index}, {"v.dict.dz", zeroedStart}}, false, true},
      {"a damaged one first",
       {{"a.index", index}, {"a.dict.dz", zeroedStart}, {"b.index", index}, {"b.dict.dz", body}},
       true,
       true},
  };
  for (const auto& [shows, files, firstChunkReadable, lastChunkReadable] : rows) {
    const fs::path folder = fs::temp_directory_path() / "dictd-damaged";
    fs::remove_all(folder);
    for (const auto& [name, bytes] : files) test::writeFile(folder / name, bytes);
    const DictdDictionary dictionary({folder.string()});
    EXPECT_EQ(dictionary.definition("baum"),
              firstChunkReadable ? std::optional<std::string>(kBaum) : std::nullopt)
        << shows;
    EXPECT_EQ(dictionary.definition("zwiebel").has_value(), lastChunkReadable) << shows;
  }
}

// The index is read in pieces of 64 KiB, and a line longer than any entry is passed over.
TEST(DictdDictionaryTest, ReadsLinesAcrossPiecesAndSkipsOverlongOnes) {
  const fs::path folder = fs::temp_directory_path() / "dictd-long";
  fs::remove_all(folder);
  std::string index = std::string(5000, 'x') + "\tA\tF\nlang\tA\tF\n";
  const std::size_t baumStart = 64 * 1024 - 3;  // three bytes before the second piece
  while (index.size() + 100 < baumStart) index += "fueller\tA\tF\n";
  index += std::string(baumStart - index.size() - 1, 'y') + "\n" + "baum\tF\tF\n";
  test::writeFile(folder / "v.index", index);
  test::writeFile(folder / "v.dict", "Lang.Baum.");
  const DictdDictionary dictionary({folder.string()});
  EXPECT_EQ(dictionary.definition("baum"), "Baum.");
  EXPECT_EQ(dictionary.definition("lang"), "Lang.");
  EXPECT_EQ(dictionary.definition(std::string(5000, 'x')), std::nullopt);
}

}  // namespace
}  // namespace varek
