// TrackerFileIndex against the test desktop's own Tracker miner (which indexes $HOME), a
// recently-used.xbel written here, and the walk of folder trees where no miner answers.
#include "platform/linux/tracker_file_index.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDateTime>
#include <QTest>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>

#include "platform/log.h"
#include "platform/linux/qt_scheduler.h"
#include "tests/support/desktop_fixtures.h"
#include "tests/support/virtual_scheduler.h"

namespace varek {
namespace {

namespace fs = std::filesystem;
using Listed = std::vector<std::pair<std::string, bool>>;  // path, isDirectory
using Lists = std::vector<Listed>;                         // one per delivery

// Several of the index's 50 ms coalescing intervals: time enough for an ended query to
// deliver if it still could.
constexpr int kQuietMs = 300;
constexpr int kDay = 86400;
constexpr double kUnixTimeOf2001 = 978307200;
// A miner's name that nobody owns and no service file starts: an index of it walks.
constexpr const char* kNowhere = "org.freedesktop.Tracker3.Miner.Nirgends";

std::string home() { return std::getenv("VAREK_TEST_HOME"); }
// Outside $HOME, where the miner does not look.
std::string scratch(const std::string& name) { return std::getenv("TMPDIR") + ("/" + name); }

// A path that ends in "/" is made a folder. Returns the path without that "/".
std::string writeFile(std::string path, const std::string& contents = "x", int ageSeconds = 0) {
  const bool folder = path.ends_with('/');
  if (folder) path.pop_back();
  fs::create_directories(folder ? fs::path(path) : fs::path(path).parent_path());
  if (!folder) std::ofstream(path) << contents;
  fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(ageSeconds));
  return path;
}

FileIndex::Results into(Lists& lists) {
  return [&lists](const std::vector<FileIndex::Hit>& hits) {
    lists.emplace_back();
    for (const auto& hit : hits) lists.back().emplace_back(hit.path, hit.isDirectory);
  };
}

// recently-used.xbel with one bookmark per path, in this order: visited that many days ago,
// and used by an application then too or, if not negative, that many days ago.
std::string xbel(const std::vector<std::tuple<std::string, double, double>>& bookmarks) {
  const auto stamp = [now = QDateTime::currentDateTimeUtc()](const char* name, double daysAgo) {
    return std::string(name) + "=\"" +
           now.addSecs(qint64(-daysAgo * kDay)).toString(Qt::ISODate).toStdString() + "\" ";
  };
  std::string text = R"(<?xml version="1.0"?>
<xbel version="1.0" xmlns:bookmark="http://www.freedesktop.org/standards/desktop-bookmarks">)";
  for (const auto& [path, visited, used] : bookmarks) {
    const QByteArray url = QUrl::fromLocalFile(QString::fromStdString(path)).toEncoded();
    text += "\n<bookmark href=\"" + url.toStdString() + "\" " + stamp("modified", visited) +
            stamp("visited", visited) + R"(><info><metadata owner="http://freedesktop.org">)" +
            R"(<bookmark:applications><bookmark:application name="Editor" )" +
            stamp("modified", used < 0 ? visited : used) +
            "/></bookmark:applications></metadata></info></bookmark>";
  }
  return text + "\n</xbel>\n";
}

class TrackerFileIndexTest : public ::testing::Test {
 protected:
  static std::string documents() { return home() + "/Documents/Index/"; }
  static std::string logFile() { return home() + "/.local/state/index.log"; }

  static void SetUpTestSuite() {
    // Hidden files are noise, left out by the miner and by the walk.
    for (const char* name : {"Café Bericht.txt", "Notiz \"}) ; DROP.txt", "Reihenfolge neu.txt",
                             ".versteckt/Café Bericht.txt"})
      writeFile(documents() + name);
    writeFile(documents() + "Reihenfolge alt.txt", "x", 400 * kDay);
    writeFile(documents() + "Projektordner Quartal/");
    ASSERT_TRUE(test::waitFor([] {
      QDBusInterface miner("org.freedesktop.Tracker3.Miner.Files",
                           "/org/freedesktop/Tracker3/Miner/Files",
                           "org.freedesktop.Tracker3.Miner");
      const QDBusReply<QString> status = miner.call("GetStatus");
      return status.isValid() && status.value() == "Idle";
    }));
  }

  // Every query of the index here must have been answered by the miner, not by the walk.
  void TearDown() override { EXPECT_FALSE(fs::exists(logFile())); }

  test::VirtualScheduler clock_;
  Log log_{logFile(), clock_}, walkLog_{scratch("walk.log"), clock_};
  QtScheduler scheduler_;
  TrackerFileIndex index_{scheduler_, {.log = &log_}};
  TrackerFileIndex walking_{scheduler_, {.service = kNowhere, .log = &walkLog_}};
};

// The miner and, where none answers, the walk of the home folder find the same.
TEST_F(TrackerFileIndexTest, FindsNamesIgnoringCaseAndAccents) {
  const std::string report = documents() + "Café Bericht.txt";
  const Listed newestFirst{{documents() + "Reihenfolge neu.txt", false},
                           {documents() + "Reihenfolge alt.txt", false}};
  const std::vector<std::tuple<const char*, std::string, Listed>> rows{
      {"the plain spelling finds an accented name", "cafe bericht", {{report, false}}},
      {"capitals and accents in the term are ignored", "CAFÉ BERICHT", {{report, false}}},
      {"a folder is one", "projektordner", {{documents() + "Projektordner Quartal", true}}},
      {"query syntax is text", "\"}) ; DROP", {{documents() + "Notiz \"}) ; DROP.txt", false}}},
      {"the newest change first", "reihenfolge", newestFirst},
  };
  for (TrackerFileIndex* index : {&index_, &walking_}) {
    for (const auto& [shows, term, expected] : rows) {
      SCOPED_TRACE(std::string(shows) + (index == &walking_ ? ", walking" : ""));
      Lists lists;
      const auto query = index->start({.term = term}, into(lists));
      // Where the miner was running already, the fixture arrives as a live update.
      ASSERT_TRUE(test::waitFor([&, &expected = expected] {
        return !lists.empty() && lists.back().size() == expected.size();
      }));
      EXPECT_EQ(lists.back(), expected);
    }
  }
  EXPECT_NE(test::readFile(walkLog_.file()).find("antwortet nicht"), std::string::npos);
}

// An ended query delivers nothing more while a control query sees the files change: not a
// live query of the miner, nor a walk its next batch (/usr holds far more than the first).
TEST_F(TrackerFileIndexTest, EndedQueriesDeliverNothingMore) {
  TrackerFileIndex walkingUsr(scheduler_, {.service = kNowhere, .home = "/usr", .log = &walkLog_});
  // what it shows, the index, ended after its first delivery, destroyed rather than stopped
  const std::vector<std::tuple<std::string, TrackerFileIndex*, bool, bool>> rows{
      {"live query stopped", &index_, true, false},
      {"walk stopped before its first batch", &walkingUsr, false, false},
      {"walk stopped halfway", &walkingUsr, true, false},
      {"walk destroyed halfway", &walkingUsr, true, true},
  };
  for (const auto& [shows, index, afterFirst, destroy] : rows) {
    SCOPED_TRACE(shows);
    Lists lists, control;
    auto query = index->start(
        {.term = index == &index_ ? "livetest" : "e", .limit = std::numeric_limits<int>::max()},
        into(lists));
    const auto controlQuery = index_.start({.term = "livetest"}, into(control));
    ASSERT_TRUE(!afterFirst || test::waitFor([&] { return !lists.empty(); }));
    const std::size_t count = lists.size();
    destroy ? query.reset() : query->stop();
    const std::string added = writeFile(documents() + "Livetest " + shows + ".txt");
    ASSERT_TRUE(test::waitFor([&] {
      return !control.empty() && std::ranges::count(control.back(), std::pair(added, false));
    }));
    QTest::qWait(kQuietMs);
    EXPECT_EQ(lists.size(), count);
  }
}

// The recent files are read on a background queue, again after each change; of a large file
// only the end, where writers add, and of that only the most recently used files.
TEST(TrackerFileIndexRecent, ListsTheFilesOpenedInTheLast730Days) {
  const std::string folder = home() + "/Zuletzt/";
  const std::string file = std::getenv("XDG_DATA_HOME") + std::string("/recently-used.xbel");
  // what it shows, path, visited and used days ago, rank in the delivery or -1 when left out
  const std::vector<std::tuple<const char*, std::string, double, double, int>> rules{
      {"visited today", folder + "Bericht heute.txt", 0, -1, 0},
      {"an application's use counts", folder + "Bericht Programm.txt", 800, 1, 1},
      {"a folder", folder + "Berichte/", 2, -1, 2},
      {"accents in the name are ignored", folder + "Berícht Akzent.txt", 3, -1, 3},
      {"729 days ago is in", folder + "Bericht 729.txt", 729, -1, 4},
      {"731 days ago is out", folder + "Bericht 731.txt", 731, -1, -1},
      {"a file that no longer exists", folder + "Bericht weg.txt", 0, -1, -1},
      {"a name without the term", folder + "Anderes.txt", 0, -1, -1},
      {"outside the home folder", scratch("Bericht.txt"), 0, -1, -1},
  };
  Listed opened(5);
  std::vector<std::tuple<std::string, double, double>> bookmarks;
  for (const auto& [shows, wanted, visited, used, rank] : rules) {
    const std::string path = writeFile(wanted);
    if (path.ends_with("weg.txt")) fs::remove(path);
    if (rank >= 0) opened[static_cast<std::size_t>(rank)] = {path, path != wanted};
    bookmarks.emplace_back(path, visited, used);
  }
  const auto report = [&](const char* name) { return writeFile(folder + name + " Bericht.txt"); };
  const std::string first = report("Erster"), second = report("Zweiter");
  const std::string both = xbel({{first, 1, -1}, {second, 0, -1}});
  // Larger than what is read, each filler taking over 200 bytes: the newest file lies before
  // the end, and in the end more files than are kept were used after one of them.
  std::vector<std::tuple<std::string, double, double>> many{{report("Vorderer"), 0, -1}};
  for (std::size_t filler = 0; filler < TrackerFileIndex::kRecentFilesBytes / 200; ++filler)
    many.emplace_back(folder + "x" + std::to_string(filler), 4, -1);
  many.insert(many.end(), {{report("Alter"), 5, -1}, {report("Neuer"), 2, -1}});
  const Listed newest{{report("Neuer"), false}};
  // Written as an editor would (no change of attributes that a folder watch would see), by
  // renaming a new file into place, or a pipe, which a read would wait on forever.
  enum class Write { replacing, inPlace, pipe };
  const std::vector<std::tuple<const char*, std::string, Write, Listed>> rows{
      {"a file that appears is read", xbel(bookmarks), Write::replacing, opened},
      {"a replaced file is read again", both, Write::replacing, {{second, false}, {first, false}}},
      {"the replacing file is watched", xbel({{second, 0, -1}}), Write::inPlace, {{second, false}}},
      {"a file cut in half holds nothing", both.substr(0, both.size() / 2), Write::replacing, {}},
      {"of a large file only the newest of its end", xbel(many), Write::replacing, newest},
      {"a pipe in its place holds nothing", "", Write::pipe, {}},
  };
  test::VirtualScheduler background;
  const Log log(scratch("recent.log"), background);
  TrackerFileIndex index(background, {.log = &log});
  const double since = QDateTime::currentSecsSinceEpoch() - kUnixTimeOf2001 - 730 * kDay;
  Lists lists;
  const auto query =
      index.start({.term = "BERICHT", .openedOnly = true, .openedSince = since}, into(lists));
  QCoreApplication::processEvents();
  EXPECT_TRUE(lists.empty()) << "read on the calling thread";
  const auto delivered = [&](std::size_t count) {
    return test::waitFor([&] {
      background.runBackground();
      return lists.size() >= count;
    });
  };
  ASSERT_TRUE(delivered(1));
  for (const auto& [shows, contents, write, expected] : rows) {
    SCOPED_TRACE(shows);
    const std::size_t before = lists.size();
    const std::string written = write == Write::inPlace ? file : file + ".neu";
    if (write == Write::pipe) ::mkfifo(written.c_str(), 0600);
    if (write != Write::pipe) std::ofstream(written) << contents;
    if (written != file) fs::rename(written, file);
    ASSERT_TRUE(delivered(before + 1));
    EXPECT_EQ(lists.back(), expected);
  }
  EXPECT_NE(test::readFile(log.file()).find("nur die letzten"), std::string::npos);
}

}  // namespace
}  // namespace varek
