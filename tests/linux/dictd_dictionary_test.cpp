#include "platform/linux/dictd_dictionary.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>

namespace varek {
namespace {

namespace fs = std::filesystem;

// Made by tests/data/dictd/make.sh: "varek-test" (dictzip, three chunks),
// "varek-zusatz-gzip" (gzip without a chunk table), "varek-zusatz-plain" (uncompressed).
const fs::path kData = fs::path(VAREK_TEST_DATA) / "dictd";

const char* const kHaus = "Haus /haʊs/ <n>\n   house; home";

std::string contents(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

TEST(DictdDictionaryTest, FindsTheWholeTextIgnoringCase) {
  struct Row {
    const char* shows;
    std::string text;
    std::optional<std::string> definition;
  };
  const Row rows[] = {
      {"a headword", "baum", "Baum /baʊm/ <m>\n   tree"},
      {"capitals in the text", "HAUS", kHaus},
      {"capitals in the index", "zug", "Zug /tsuːk/ <m>\n   train; draught; move (in a game)"},
      {"an umlaut in capitals", "BRÜCKE", "Brücke /ˈbʁʏkə/ <f>\n   bridge"},
      {"an entry of several lines", "Schnee",
       "Schnee /ʃneː/ <m>\n   1. snow\n   2. beaten egg white"},
      {"an entry across a chunk border", "regenschirm",
       "Regenschirm /ˈʁeːɡn̩ʃɪʁm/ <m>\n   umbrella\n"
       "   einen Regenschirm aufspannen: to put up an umbrella\n"
       "   den Regenschirm zuklappen: to fold the umbrella\n"
       "   unter einen Regenschirm passen: to fit under one umbrella"},
      {"an entry in the last chunk", "zwiebel", "Zwiebel /ˈtsviːbl̩/ <f>\n   onion"},
      {"the database first by name answers", "tee", "Tee <m>\n   tea (from the gzip dictionary)"},
      {"a gzip file without a chunk table", "kaffee", "Kaffee <m>\n   coffee"},
      {"an uncompressed database", "milch", "Milch <f>\n   milk"},
      {"an unknown word", "fenster", std::nullopt},
      {"the start of a headword", "bau", std::nullopt},
      {"surrounding blanks are part of the text", " haus", std::nullopt},
      {"an empty text", "", std::nullopt},
      {"a metadata entry", "00databaseshort", std::nullopt},
      {"a metadata entry in the older spelling", "00-database-info", std::nullopt},
  };
  const DictdDictionary dictionary({kData.string()});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.shows);
    EXPECT_EQ(dictionary.definition(row.text), row.definition);
  }
}

TEST(DictdDictionaryTest, MissingOrDamagedDatabasesYieldNothing) {
  const std::string index = contents(kData / "varek-test.index");
  const std::string body = contents(kData / "varek-test.dict.dz");
  // The compressed data begins after the stored file name, which ends the header.
  const std::size_t dataStart = body.find(std::string("varek-test.dict") + '\0') + 16;
  std::string zeroedStart = body;
  zeroedStart.replace(dataStart, 64, std::string(64, '\0'));

  struct Row {
    const char* shows;
    std::map<std::string, std::string> files;
    bool firstChunkReadable = false, lastChunkReadable = false;
  };
  const std::string plain = "Haus\n   house\n";
  const Row rows[] = {
      {"no folder", {}},
      {"an index without its body", {{"v.index", index}}},
      {"an empty index", {{"v.index", ""}, {"v.dict.dz", body}}},
      {"a body cut off in its header", {{"v.index", index}, {"v.dict.dz", body.substr(0, 20)}}},
      {"a body cut off in its data", {{"v.index", index}, {"v.dict.dz", body.substr(0, 3000)}}},
      {"a body that is not gzip", {{"v.index", index}, {"v.dict.dz", plain}}},
      {"an entry past the end of the body", {{"v.index", "haus\tBAAA\tQ\n"}, {"v.dict", plain}}},
      {"numbers that are not base64", {{"v.index", "haus\tA-\tQ\n"}, {"v.dict", plain}}},
      {"the first chunk overwritten",
       {{"v.index", index}, {"v.dict.dz", zeroedStart}},
       false,
       true},
      {"a damaged database before a good one is passed over",
       {{"a.index", index}, {"a.dict.dz", zeroedStart}, {"b.index", index}, {"b.dict.dz", body}},
       true,
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.shows);
    const fs::path folder = fs::temp_directory_path() / "dictd-damaged";
    fs::remove_all(folder);
    if (!row.files.empty()) fs::create_directories(folder);
    for (const auto& [name, bytes] : row.files)
      std::ofstream(folder / name, std::ios::binary) << bytes;
    const DictdDictionary dictionary({folder.string()});
    EXPECT_EQ(dictionary.definition("haus"),
              row.firstChunkReadable ? std::optional<std::string>(kHaus) : std::nullopt);
    EXPECT_EQ(dictionary.definition("zwiebel").has_value(), row.lastChunkReadable);
  }
}

}  // namespace
}  // namespace varek
