#include "sources/clipboard_history.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <tuple>

#include "tests/support/fake_platform.h"
#include "tests/support/files.h"

namespace varek {
namespace {

namespace fs = std::filesystem;
using test::readFile;

using Listed = std::vector<std::pair<std::string, double>>;

// When the first tick after start() falls; the scheduler starts at 800,000,000.
constexpr double kFirstTick = 800'000'000.5;

class ClipboardHistoryTest : public ::testing::Test {
 protected:
  ClipboardHistory& start() {
    history = std::make_shared<ClipboardHistory>(pasteboard, scheduler, scheduler, defaults, file);
    history->start();
    return *history;
  }
  // Another application copies; the next tick sees it.
  void copy(std::optional<std::string> text, std::vector<std::string> types = {"text/plain"},
            std::vector<std::string> files = {}) {
    pasteboard.copy(std::move(text), std::move(types), std::move(files));
    scheduler.advance(ClipboardHistory::kPollSeconds);
  }
  Listed listed() const {
    Listed entries;
    for (const auto& entry : history->entries()) entries.emplace_back(entry.text, entry.date);
    return entries;
  }
  fs::path folder() const { return fs::path(file).parent_path(); }
  long files(const std::optional<std::string>& holding = std::nullopt) const {
    return std::count_if(fs::directory_iterator(folder()), {}, [&](const auto& entry) {
      return !holding || readFile(entry.path()) == *holding;
    });
  }

  test::VirtualScheduler scheduler;
  test::MemoryDefaults defaults;
  test::FakePasteboard pasteboard;
  test::FakePaths paths;
  const std::string file = paths.clipboardFile();
  std::shared_ptr<ClipboardHistory> history;
};

TEST_F(ClipboardHistoryTest, RecordsDistinctCopiesNewestFirstAndLooksAtEachChangeOnce) {
  pasteboard.copy("there before");
  start();
  scheduler.advance(ClipboardHistory::kPollSeconds);  // what was there before stays unrecorded
  // With "é" precomposed and decomposed, 99,999 characters; one more is too long.
  const std::string longest = std::string(99'997, 'a') + "\u00e9e\u0301";
  for (const std::string& text :
       std::vector<std::string>{"a", "text", "text ", "e\u0301", "\u00e9", longest, longest + "b"})
    copy(text);
  copy("plain", {"text/uri-list", "text/plain"}, {"/a", "/b"});
  copy(std::nullopt, {"image/png"});
  copy("a");
  // Reads of types, files and text; a copy marked secret is dropped after its types.
  for (const auto& [text, type, reads] : {std::tuple{"pw", "org.nspasteboard.ConcealedType", 1},
                                          {"pw", "org.nspasteboard.TransientType", 1},
                                          {"pw", "x-kde-passwordManagerHint", 1},
                                          {" \n\t\u3000\r\n", "text/plain", 3}}) {
    const int before = pasteboard.contentReads();
    copy(text, {"text/plain", type});
    scheduler.advance(ClipboardHistory::kPollSeconds);  // nothing new to look at
    EXPECT_EQ(pasteboard.contentReads() - before, reads) << type;
  }
  const auto at = [](int copy) { return kFirstTick + copy * ClipboardHistory::kPollSeconds; };
  EXPECT_EQ(listed(), (Listed{{"a", at(10)},
                              {"/a\n/b", at(8)},
                              {longest, at(6)},
                              {"\u00e9", at(5)},
                              {"text ", at(3)},
                              {"text", at(2)}}));
}

TEST_F(ClipboardHistoryTest, KeepsTheNewest200) {
  nlohmann::json list = nlohmann::json::array();
  for (int index = 0; index < 250; ++index)
    list.push_back({{"text", "entry " + std::to_string(index)}, {"date", index}});
  test::writeFile(file, list.dump());
  EXPECT_EQ(start().entries().size(), 250u);  // a longer file is kept whole until the next copy
  for (const auto& [copied, last] :
       {std::pair{"new", "entry 198"}, {"entry 50", "entry 198"}, {"newer", "entry 197"}}) {
    copy(copied);
    ASSERT_EQ(history->entries().size(), 200u) << copied;
    EXPECT_EQ(history->entries().front().text, copied);
    EXPECT_EQ(history->entries().back().text, last) << copied;
    EXPECT_EQ(nlohmann::json::parse(readFile(file)).size(), 200u) << copied;
  }
}

TEST_F(ClipboardHistoryTest, UnreadableFileIsIgnoredAndSetAsideBeforeTheFirstSave) {
  // A half-read list would lose the rest at the next save, so any flaw rejects it whole.
  for (const std::string bytes : {R"([{"text":"a","date":1},{"text":"b"}])", R"([{"text":)"}) {
    fs::remove_all(folder());
    test::writeFile(file, bytes);
    std::ofstream(file + ".unreadable") << "earlier";  // set aside before; never replaced
    EXPECT_TRUE(start().entries().empty()) << bytes;
    copy("x");
    copy("y");
    EXPECT_EQ(files(bytes), 1) << bytes;
    EXPECT_EQ(files("earlier"), 1) << bytes;
    EXPECT_EQ(files(), 4) << bytes;  // the lock, and set aside at the first save only
  }
}

TEST_F(ClipboardHistoryTest, SavesPrivatelyAndReadsBack) {
  start();
  copy("a");
  EXPECT_EQ(readFile(file), R"([{"text":"a","date":800000000.5}])");
  copy("\"quoted\" \\ back\nslash \U0001F600\t\x01");
  copy("not UTF-8: \xff!");
  EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::status(folder()).permissions(), fs::perms::owner_all);

  Listed expected = listed();
  expected.front().first = "not UTF-8: \uFFFD!";
  start();
  EXPECT_EQ(listed(), expected);

  history->clear();
  EXPECT_EQ(readFile(file), "[]");
  start();
  copy("b");
  // The file and its lock: no temporary is left, and a list read, even an empty one, stays.
  EXPECT_EQ(files(), 2);
}

TEST_F(ClipboardHistoryTest, PollsTwiceASecondWhileEnabled) {
  defaults.setBoolean("clipboardEnabled", false);
  EXPECT_FALSE(start().polling());
  // A flag stored as text is no flag, so recording is on as when nothing is stored.
  defaults.setString("clipboardEnabled", "false");
  EXPECT_TRUE(start().polling());
  EXPECT_DOUBLE_EQ(scheduler.lastTolerance(), 0.2);
  copy("a");
  EXPECT_EQ(history->entries().size(), 1u);

  history->setEnabled(false);
  EXPECT_FALSE(history->polling());
  copy("while off");
  EXPECT_EQ(history->entries().size(), 1u);
  test::writeFile(file, R"([{"text":"x","date":1},{"text":"y","date":2}])");
  history->setEnabled(true);
  EXPECT_EQ(history->entries().size(), 2u);
  scheduler.advance(ClipboardHistory::kPollSeconds);
  EXPECT_EQ(history->entries().size(), 2u);  // what was copied while off stays unrecorded
}

// A file where the folder belongs stops root too: that costs the file, never the list.
TEST_F(ClipboardHistoryTest, UnwritableFolderKeepsTheListInMemory) {
  test::writeFile(folder(), "no folder");
  start();
  copy("a");
  copy("b");
  EXPECT_EQ(listed(),
            (Listed{{"b", kFirstTick + ClipboardHistory::kPollSeconds}, {"a", kFirstTick}}));
}

}  // namespace
}  // namespace varek
