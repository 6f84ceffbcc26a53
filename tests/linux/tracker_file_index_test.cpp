// TrackerFileIndex against the test desktop's own Tracker miner (which indexes $HOME), a
// recently-used.xbel written here, and the walk of folder trees where no miner answers.
#include "platform/linux/tracker_file_index.h"

#include <gtest/gtest.h>
#include <utime.h>

#include <QDBusInterface>
#include <QDBusReply>
#include <QEventLoop>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>

#include "app/log.h"
#include "tests/support/manual_clock.h"

namespace varek {
namespace {

using Listed = std::vector<std::pair<std::string, bool>>;  // path, isDirectory

// The miner indexes a few files in well under a second; this only bounds a failure.
constexpr int kDeadlineMs = 20000;
constexpr int kStepMs = 10;
// Several of the index's 50 ms coalescing intervals: time enough for an ended query to
// deliver if it still could.
constexpr int kQuietMs = 300;
constexpr std::time_t kDay = 86400;
constexpr std::time_t kUnixTimeOf2001 = 978307200;

std::string home() { return std::getenv("VAREK_TEST_HOME"); }

void spinFor(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

bool spinUntil(const std::function<bool()>& done) {
  for (int waited = 0; !done() && waited < kDeadlineMs; waited += kStepMs) spinFor(kStepMs);
  return done();
}

// A path that ends in "/" is made a folder. Returns the path without that "/".
std::string writeFile(std::string path, const std::string& contents = "x", std::time_t age = 0) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  if (path.ends_with('/')) {
    path.pop_back();
  } else {
    std::ofstream(path) << contents;
  }
  const utimbuf times{std::time(nullptr) - age, std::time(nullptr) - age};
  ::utime(path.c_str(), &times);
  return path;
}

bool minerIdle() {
  QDBusInterface miner("org.freedesktop.Tracker3.Miner.Files",
                       "/org/freedesktop/Tracker3/Miner/Files", "org.freedesktop.Tracker3.Miner");
  const QDBusReply<QString> status = miner.call("GetStatus");
  return status.isValid() && status.value() == "Idle";
}

struct Deliveries {
  std::vector<Listed> lists;
  FileIndex::Results sink() {
    return [this](const std::vector<FileIndex::Hit>& hits) {
      lists.emplace_back();
      for (const auto& hit : hits) lists.back().emplace_back(hit.path, hit.isDirectory);
    };
  }
  bool latestHas(const std::string& path) const {
    return !lists.empty() &&
           std::count(lists.back().begin(), lists.back().end(), std::pair(path, false)) == 1;
  }
};

class TrackerFileIndexTest : public ::testing::Test {
 protected:
  static std::string documents() { return home() + "/Documents/Index/"; }
  static std::string logFile() { return home() + "/.local/state/index.log"; }

  static void SetUpTestSuite() {
    for (const char* name : {"Café Bericht.txt", "Notiz \"}) ; DROP.txt", "Reihenfolge neu.txt"})
      writeFile(documents() + name);
    writeFile(documents() + "Reihenfolge alt.txt", "x", 400 * kDay);
    writeFile(documents() + "Projektordner Quartal/");
    ASSERT_TRUE(spinUntil(minerIdle));
  }

  // Every query here must have been answered by the miner, not by the walk.
  void TearDown() override { EXPECT_FALSE(std::filesystem::exists(logFile())); }

  test::ManualClock clock_;
  Log log_{logFile(), clock_};
  TrackerFileIndex index_{TrackerFileIndex::Setup{.log = &log_}};
};

TEST_F(TrackerFileIndexTest, FindsNamesIgnoringCaseAndAccents) {
  const std::string report = documents() + "Café Bericht.txt";
  const std::vector<std::tuple<const char*, std::string, Listed>> rows{
      {"the plain spelling finds an accented name", "cafe bericht", {{report, false}}},
      {"capitals and accents in the term are ignored", "CAFÉ BERICHT", {{report, false}}},
      {"a folder is one", "projektordner", {{documents() + "Projektordner Quartal", true}}},
      {"query syntax is text", "\"}) ; DROP", {{documents() + "Notiz \"}) ; DROP.txt", false}}},
      {"the newest change first",
       "reihenfolge",
       {{documents() + "Reihenfolge neu.txt", false},
        {documents() + "Reihenfolge alt.txt", false}}},
  };
  for (const auto& [shows, term, expected] : rows) {
    SCOPED_TRACE(shows);
    Deliveries deliveries;
    const auto query = index_.start({.term = term}, deliveries.sink());
    // Where the miner was running already, the fixture arrives as a live update.
    ASSERT_TRUE(spinUntil([&, &expected = expected] {
      return !deliveries.lists.empty() && deliveries.lists.back().size() == expected.size();
    }));
    EXPECT_EQ(deliveries.lists.back(), expected);
  }
}

TEST_F(TrackerFileIndexTest, StaysLiveUntilStopped) {
  Deliveries stopped, destroyed, control;
  const auto stoppedQuery = index_.start({.term = "livetest"}, stopped.sink());
  auto destroyedQuery = index_.start({.term = "livetest"}, destroyed.sink());
  const auto controlQuery = index_.start({.term = "livetest"}, control.sink());
  const std::string first = documents() + "Livetest eins.txt";
  writeFile(first);
  ASSERT_TRUE(spinUntil([&] { return stopped.latestHas(first) && destroyed.latestHas(first); }));

  stoppedQuery->stop();
  destroyedQuery.reset();
  const std::size_t stoppedCount = stopped.lists.size(), destroyedCount = destroyed.lists.size();
  const std::string second = documents() + "Livetest zwei.txt";
  writeFile(second);
  // The control query sees the same index events that the ended ones would have seen.
  ASSERT_TRUE(spinUntil([&] { return control.latestHas(second); }));
  spinFor(kQuietMs);
  EXPECT_EQ(stopped.lists.size(), stoppedCount);
  EXPECT_EQ(destroyed.lists.size(), destroyedCount);
}

// recently-used.xbel with one bookmark per path: visited and, if not negative, used by an
// application that many days ago.
std::string xbel(const std::vector<std::tuple<std::string, double, double>>& bookmarks) {
  const auto iso = [](double daysAgo) {
    const std::time_t time = std::time(nullptr) - static_cast<std::time_t>(daysAgo * kDay);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&time));
    return std::string(text);
  };
  std::string text =
      "<?xml version=\"1.0\"?>\n<xbel version=\"1.0\" xmlns:bookmark=\"http://www.freedesktop.org/"
      "standards/desktop-bookmarks\">\n";
  for (const auto& [path, visited, used] : bookmarks) {
    text += "<bookmark href=\"" +
            QUrl::fromLocalFile(QString::fromStdString(path))
                .toString(QUrl::FullyEncoded)
                .toStdString() +
            "\" added=\"" + iso(visited) + "\" modified=\"" + iso(visited) + "\" visited=\"" +
            iso(visited) + "\"><info><metadata owner=\"http://freedesktop.org\">";
    if (used >= 0) {
      text +=
          "<bookmark:applications><bookmark:application name=\"Editor\" exec=\"editor\" "
          "modified=\"" +
          iso(used) + "\" count=\"1\"/></bookmark:applications>";
    }
    text += "</metadata></info></bookmark>\n";
  }
  return text + "</xbel>\n";
}

TEST_F(TrackerFileIndexTest, OpenedOnlyListsRecentFilesOfTheLast730Days) {
  const std::string folder = home() + "/Zuletzt/";
  struct Row {
    const char* shows;
    std::string path;
    double visited, used;  // days ago
    int rank;              // in the delivery, -1 when left out
  };
  const std::vector<Row> rows{
      {"visited today", folder + "Bericht heute.txt", 0, -1, 0},
      {"an application's use counts", folder + "Bericht Programm.txt", 800, 1, 1},
      {"a folder", folder + "Berichte/", 2, -1, 2},
      {"accents in the name are ignored", folder + "Berícht Akzent.txt", 3, -1, 3},
      {"729 days ago is in", folder + "Bericht 729.txt", 729, -1, 4},
      {"731 days ago is out", folder + "Bericht 731.txt", 731, -1, -1},
      {"a file that no longer exists", folder + "Bericht weg.txt", 0, -1, -1},
      {"a name without the term", folder + "Anderes.txt", 0, -1, -1},
      {"outside the home folder", std::getenv("TMPDIR") + std::string("/Bericht.txt"), 0, -1, -1},
  };
  Listed expected(5);
  std::vector<std::tuple<std::string, double, double>> bookmarks;
  for (const Row& row : rows) {
    const std::string path = writeFile(row.path);
    if (row.path.ends_with("weg.txt")) std::filesystem::remove(path);
    if (row.rank >= 0) expected[static_cast<std::size_t>(row.rank)] = {path, path != row.path};
    bookmarks.emplace_back(path, row.visited, row.used);
  }
  writeFile(std::getenv("XDG_DATA_HOME") + std::string("/recently-used.xbel"), xbel(bookmarks));

  const double since = static_cast<double>(std::time(nullptr) - kUnixTimeOf2001 - 730 * kDay);
  Deliveries deliveries;
  const auto query = index_.start({.term = "BERICHT", .openedOnly = true, .openedSince = since},
                                  deliveries.sink());
  ASSERT_TRUE(spinUntil([&] { return !deliveries.lists.empty(); }));
  EXPECT_EQ(deliveries.lists.back(), expected);
}

TEST_F(TrackerFileIndexTest, OpenedOnlyFollowsTheRecentFiles) {
  const std::string first = home() + "/Verfolgt/Erste Notiz.txt";
  const std::string second = home() + "/Verfolgt/Zweite Notiz.txt";
  const std::string file = home() + "/Verfolgt/recently-used.xbel";
  writeFile(first);
  writeFile(second);
  const std::string both = xbel({{first, 1, -1}, {second, 0, -1}});
  struct Row {
    const char* shows;
    std::string contents;
    bool inPlace;  // rewritten rather than replaced by renaming
    Listed expected;
  };
  const std::vector<Row> rows{
      {"a file that appears is read", xbel({{first, 1, -1}}), false, {{first, false}}},
      {"a replaced file is read again", both, false, {{second, false}, {first, false}}},
      {"the file that replaced it is watched", xbel({{second, 0, -1}}), true, {{second, false}}},
      {"a file cut in half holds nothing", both.substr(0, both.size() / 2), false, {}},
  };
  TrackerFileIndex index(TrackerFileIndex::Setup{.recentFiles = file, .log = &log_});
  Deliveries deliveries;
  const auto query = index.start({.term = "notiz", .openedOnly = true}, deliveries.sink());
  ASSERT_TRUE(spinUntil([&] { return deliveries.lists.size() == 1; }));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.shows);
    const std::size_t before = deliveries.lists.size();
    // Written as an editor would: no change of attributes that a folder watch would see.
    std::ofstream(row.inPlace ? file : file + ".neu") << row.contents;
    if (!row.inPlace) std::filesystem::rename(file + ".neu", file);
    ASSERT_TRUE(spinUntil([&] { return deliveries.lists.size() > before; }));
    EXPECT_EQ(deliveries.lists.back(), row.expected);
  }
}

// Nobody owns this name and no service file starts it. The walked trees lie outside $HOME,
// where the miner does not look.
TrackerFileIndex walkingIndex(const std::string& home, const Log& log) {
  return TrackerFileIndex(TrackerFileIndex::Setup{
      .service = "org.freedesktop.Tracker3.Miner.Nirgends", .home = home, .log = &log});
}

TEST(TrackerFileIndexWalk, FindsNamesAndPrunesNoiseWhereNoMinerAnswers) {
  const std::string root = std::getenv("TMPDIR") + std::string("/Durchlauf/");
  const std::vector<std::tuple<const char*, std::string, std::time_t, int>> rows{
      // what it shows, path (a folder ends in "/"), age in seconds, rank or -1 when left out
      {"a file deep down", root + "a/b/c/Kaffee Liste.txt", 0, 0},
      {"a folder", root + "Kaffeeordner/", 10, 1},
      {"an older file comes later", root + "kaffee alt.txt", 100, 2},
      {"inside node_modules", root + "web/node_modules/kaffee.js", 0, -1},
      {"inside a hidden folder", root + ".versteckt/kaffee.txt", 0, -1},
      {"a hidden file", root + ".kaffee", 0, -1},
      {"build output", root + "projekt/build/kaffee.o", 0, -1},
  };
  Listed expected(3);
  for (const auto& [shows, path, age, rank] : rows) {
    const std::string written = writeFile(path, "x", age);
    if (rank >= 0) expected[static_cast<std::size_t>(rank)] = {written, written != path};
  }
  const test::ManualClock clock;
  const Log log(root + "../walk.log", clock);
  TrackerFileIndex index = walkingIndex(root, log);
  Deliveries deliveries;
  const auto query = index.start({.term = "KAFFEE"}, deliveries.sink());
  ASSERT_TRUE(spinUntil([&] { return !deliveries.lists.empty(); }));
  spinFor(kQuietMs);
  EXPECT_EQ(deliveries.lists.back(), expected);
  std::ifstream logged(log.file());
  EXPECT_NE(std::string(std::istreambuf_iterator<char>(logged), {}).find("antwortet nicht"),
            std::string::npos);
}

TEST(TrackerFileIndexWalk, DeliversNothingAfterStop) {
  // /usr holds far more than a walk gets through before its first batch, on any system
  // this builds on.
  const test::ManualClock clock;
  const Log log(std::getenv("TMPDIR") + std::string("/stopped-walk.log"), clock);
  TrackerFileIndex index = walkingIndex("/usr", log);
  const std::vector<std::tuple<const char*, bool, bool>> rows{
      // what it shows, ended after the first batch, destroyed rather than stopped
      {"stopped before its first batch", false, false},
      {"stopped halfway", true, false},
      {"destroyed halfway", true, true},
  };
  for (const auto& [shows, afterFirstBatch, destroy] : rows) {
    SCOPED_TRACE(shows);
    Deliveries deliveries;
    auto query =
        index.start({.term = "e", .limit = std::numeric_limits<int>::max()}, deliveries.sink());
    if (afterFirstBatch) {
      ASSERT_TRUE(spinUntil([&] { return !deliveries.lists.empty(); }));
    }
    const std::size_t count = deliveries.lists.size();
    if (destroy) {
      query.reset();
    } else {
      query->stop();
    }
    spinFor(kQuietMs);
    EXPECT_EQ(deliveries.lists.size(), count);
  }
}

}  // namespace
}  // namespace varek
