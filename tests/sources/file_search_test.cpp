#include "sources/file_search.h"

#include <gtest/gtest.h>

#include <utility>

#include "tests/support/fake_platform.h"

namespace varek {
namespace {

using Hits = std::vector<FileIndex::Hit>;

// Keeps every request and callback, as a real index may still deliver a result list it
// queued before the query was stopped.
struct LaggingIndex : FileIndex {
  struct Handle : Query {
    void stop() override {}
  };
  std::unique_ptr<Query> start(const Request& request, Results deliver) override {
    requests.push_back(request);
    callbacks.push_back(std::move(deliver));
    return std::make_unique<Handle>();
  }
  std::vector<Request> requests;
  std::vector<Results> callbacks;
};

// Hits named as given, each in a folder of its own under the home folder.
Hits inFolders(const std::vector<std::string>& names) {
  Hits hits;
  for (std::size_t index = 0; index < names.size(); ++index) {
    hits.push_back({"/home/anna/f" + std::to_string(index) + "/" + names[index], false});
  }
  return hits;
}

class FileSearchTest : public ::testing::Test {
 protected:
  FileSearchTest() {
    files->setOnResults([this](std::vector<Item> rows) { delivered.push_back(std::move(rows)); });
  }
  // The index reports hits to the latest query; returns the titles delivered for them.
  std::vector<std::string> deliver(const Hits& hits) {
    index.callbacks.back()(hits);
    std::vector<std::string> titles;
    for (const Item& row : delivered.back()) titles.push_back(row.title);
    return titles;
  }

  test::VirtualScheduler clock;
  LaggingIndex index;
  test::FakeWorkspace workspace;
  std::shared_ptr<FileSearch> files =
      std::make_shared<FileSearch>(index, workspace, clock, "/home/anna");
  std::vector<std::vector<Item>> delivered;
};

TEST_F(FileSearchTest, AsksTheIndexForTheTrimmedTermOfTwoCharactersOrMore) {
  for (const char* term : {"a", " \tb  ", "e\u0301"}) {
    files->search(term, {});
    ASSERT_EQ(delivered.size(), 1u) << term;  // at once, without asking the index
    EXPECT_TRUE(delivered[0].empty() && index.requests.empty()) << term;
    delivered.clear();
  }
  files->search(" \treport  ", {});
  files->search("report", {.openedOnly = true});
  ASSERT_EQ(index.requests.size(), 2u);
  EXPECT_EQ(index.requests[0].term, "report");
  EXPECT_EQ(index.requests[0].limit, 300);
  EXPECT_FALSE(index.requests[0].openedOnly);
  EXPECT_TRUE(index.requests[1].openedOnly);
  EXPECT_EQ(index.requests[1].openedSince, 800'000'000 - 63'072'000);
  EXPECT_TRUE(delivered.empty());
}

TEST_F(FileSearchTest, BuildOutputPackagesAndHiddenPathsAreNoise) {
  const std::pair<const char*, bool> rows[] = {
      {"/a/node_modules/x.js", true}, {"/a/.cache/x.txt", true},   {"/a/x.PYC", true},
      {"/a/Library/x.txt", true},     {"/a/library/x.txt", false}, {"/a/Makefile", false}};
  for (const auto& [path, noise] : rows) EXPECT_EQ(FileSearch::isNoise(path), noise) << path;
}

TEST_F(FileSearchTest, RowShowsNameFolderAndKindAndOpensTheFile) {
  using enum Item::Kind;
  const std::tuple<FileIndex::Hit, const char*, const char*, Item::Kind> rows[] = {
      {{"/home/anna/Documents/Reports", true}, "Reports", "~/Documents", folder},
      {{"/home/anna/Apps/Tool.app", true}, "Tool.app", "~/Apps", file},  // a bundle is one thing
      {{"/home/anna/notes.txt", false}, "notes.txt", "~", file},
      {{"/mnt/share/q1.txt", false}, "q1.txt", "/mnt/share", file},
      {{"/home/annabel/x1", false}, "x1", "/home/annabel", file},
  };
  for (const auto& [hit, title, subtitle, kind] : rows) {
    SCOPED_TRACE(hit.path);
    files->search(title, {});
    // An empty path, build output and a name that does not match are left out.
    const Hits hits = {{""}, {"/home/anna/build/" + std::string(title)}, hit, {"/home/anna/zz"}};
    ASSERT_EQ(deliver(hits), std::vector<std::string>{title});
    const Item& item = delivered.back()[0];
    EXPECT_EQ(item.subtitle, subtitle);
    EXPECT_EQ(item.kind, kind);
    EXPECT_EQ(item.id, "file:" + hit.path);
    EXPECT_EQ(item.path, hit.path);
    EXPECT_EQ(std::get<Item::Icon::File>(item.icon.value).path, hit.path);
    EXPECT_DOUBLE_EQ(item.score, 1000 - 200);  // below apps of the same match
    item.run();
    EXPECT_EQ(std::exchange(workspace.openedFiles, {}), std::vector<std::string>{hit.path});
  }
}

// Only the part below the home folder can make a file noise: a home under a folder named
// like build output must not hide every file.
TEST(FileSearchHome, OnlyThePathBelowHomeIsJudged) {
  test::VirtualScheduler clock;
  LaggingIndex index;
  test::FakeWorkspace workspace;
  auto files = std::make_shared<FileSearch>(index, workspace, clock, "/srv/build/anna");
  std::vector<std::string> titles;
  files->setOnResults([&](std::vector<Item> rows) {
    for (const Item& row : rows) titles.push_back(row.title);
  });
  files->search("plan", {});
  index.callbacks.back()({{"/srv/build/anna/plan.txt", false},
                          {"/srv/build/anna/build/plan.o.txt", false},
                          {"/srv/build/annaplan.txt", false}});
  EXPECT_EQ(titles, std::vector<std::string>{"plan.txt"});
}

TEST_F(FileSearchTest, BestScoresFirstTiesInIndexOrderUpToTheLimit) {
  std::vector<std::string> names(40, "old report.txt");
  // "report" beats everything; the five after it tie, so the index's order decides.
  const char* matches[] = {"report.pdf", "report.txt", "report",
                           "report.doc", "report.rtf", "report.odt"};
  for (int index = 0; index < 6; ++index) names[3 + 7 * index] = matches[index];
  files->search("report", {.limit = 5});
  EXPECT_EQ(
      deliver(inFolders(names)),
      (std::vector<std::string>{"report", "report.pdf", "report.txt", "report.doc", "report.rtf"}));
  EXPECT_DOUBLE_EQ(delivered[0][1].score, 900 - (10 - 6) - 200);  // a prefix, 4 unmatched

  // Only the first 300 hits are ranked: a better match after them is never seen.
  names.assign(300, "old report.txt");
  names.push_back("report");
  files->search("report", {.limit = 1000});
  const std::vector<std::string> titles = deliver(inFolders(names));
  EXPECT_EQ(titles.size(), 300u);
  EXPECT_EQ(titles.back(), "old report.txt");
}

TEST_F(FileSearchTest, DeliveriesForEndedQueriesAreIgnored) {
  files->search("first", {});
  files->search("second", {});
  index.callbacks[0](inFolders({"first.txt"}));
  EXPECT_TRUE(delivered.empty()) << "replaced query";
  files->stop();
  index.callbacks[1](inFolders({"second.txt"}));
  EXPECT_TRUE(delivered.empty()) << "stopped query";
  files->search("third", {});
  EXPECT_EQ(deliver(inFolders({"third.txt"})), std::vector<std::string>{"third.txt"});
  files.reset();
  index.callbacks[2](inFolders({"third.txt"}));
  EXPECT_EQ(delivered.size(), 1u) << "destroyed search";
}

}  // namespace
}  // namespace varek
