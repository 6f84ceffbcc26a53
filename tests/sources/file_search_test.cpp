#include "sources/file_search.h"

#include <gtest/gtest.h>

#include "tests/support/fake_platform.h"

namespace varek {
namespace {

// Keeps every callback it was given, as a real index may still hold a delivery it queued
// before the query was stopped.
struct LaggingIndex : FileIndex {
  struct Handle : Query {
    void stop() override {}
  };
  std::unique_ptr<Query> start(const Request&, Results deliver) override {
    callbacks.push_back(std::move(deliver));
    return std::make_unique<Handle>();
  }
  std::vector<Results> callbacks;
};

template <typename Index>
struct Harness {
  test::VirtualScheduler clock;
  Index index;
  test::FakeWorkspace workspace;
  std::shared_ptr<FileSearch> files =
      std::make_shared<FileSearch>(index, workspace, clock, "/home/anna");
  std::vector<std::vector<Item>> delivered;

  Harness() {
    files->setOnResults([this](std::vector<Item> rows) { delivered.push_back(std::move(rows)); });
  }
  std::vector<std::string> lastTitles() const {
    std::vector<std::string> titles;
    for (const Item& row : delivered.back()) titles.push_back(row.title);
    return titles;
  }
};
using FileSearchHarness = Harness<test::FakeFileIndex>;

std::vector<FileIndex::Hit> inFolders(const std::vector<std::string>& names) {
  std::vector<FileIndex::Hit> hits;
  for (std::size_t index = 0; index < names.size(); ++index) {
    hits.push_back({"/home/anna/f" + std::to_string(index) + "/" + names[index], false});
  }
  return hits;
}

TEST(FileSearchQuery, TermsUnderTwoCharactersAnswerEmptyAtOnce) {
  FileSearchHarness harness;
  harness.files->search("report", {.limit = 3});
  for (const char* term : {"a", " \tb  ", "e\u0301", ""}) {
    harness.files->search(term, {.limit = 9});
    ASSERT_EQ(harness.delivered.size(), 1u) << term;
    EXPECT_TRUE(harness.delivered.back().empty()) << term;
    EXPECT_EQ(harness.files->limit(), 3) << term;
    EXPECT_FALSE(harness.files->running()) << term;
    harness.delivered.clear();
  }
  EXPECT_EQ(harness.index.requests.size(), 1u);
}

TEST(FileSearchQuery, RequestCarriesTheTrimmedTermAndTheOpenedWindow) {
  FileSearchHarness harness;
  harness.files->search(" \treport  ", {});
  harness.files->search("report", {.limit = 8, .openedOnly = true});
  const auto& requests = harness.index.requests;
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].term, "report");
  EXPECT_EQ(requests[0].limit, 300);
  EXPECT_FALSE(requests[0].openedOnly);
  EXPECT_EQ(requests[0].openedSince, 0);
  EXPECT_TRUE(requests[1].openedOnly);
  EXPECT_EQ(requests[1].openedSince, 800'000'000 - 63'072'000);
  EXPECT_TRUE(harness.delivered.empty());
}

TEST(FileSearchNoise, BuildOutputPackagesAndHiddenPathsAreNoise) {
  const std::pair<const char*, bool> rows[] = {
      {"/home/anna/web/node_modules/react/index.js", true},
      {"/home/anna/.cache/report.txt", true},
      {"/home/anna/scripts/report.PYC", true},
      {"/home/anna/lib/libfoo.a", true},
      {"/home/anna/src/main.o", true},
      {"/home/anna/Documents/report.txt", false},
      {"/home/anna/Library/Caches/x.txt", true},
      {"/home/anna/library/notes.txt", false},
      {"/home/anna/archive.tar.gz", false},
      {"/home/anna/Makefile", false},
  };
  for (const auto& [path, noise] : rows) EXPECT_EQ(FileSearch::isNoise(path), noise) << path;
}

TEST(FileSearchRows, RowShowsNameFolderAndKind) {
  struct Row {
    const char* shows;
    const char* term;
    FileIndex::Hit hit;
    const char* title;
    const char* subtitle;
    Item::Kind kind;
  } rows[] = {
      {"folder under home",
       "reports",
       {"/home/anna/Documents/Reports", true},
       "Reports",
       "~/Documents",
       Item::Kind::folder},
      {"application bundle",
       "tool.app",
       {"/home/anna/Apps/Tool.app", true},
       "Tool.app",
       "~/Apps",
       Item::Kind::file},
      {"directly in home",
       "notes.txt",
       {"/home/anna/notes.txt", false},
       "notes.txt",
       "~",
       Item::Kind::file},
      {"outside home",
       "q1.txt",
       {"/mnt/share/Reports/q1.txt", false},
       "q1.txt",
       "/mnt/share/Reports",
       Item::Kind::file},
      {"home name as prefix only",
       "x1",
       {"/home/annabel/x1", false},
       "x1",
       "/home/annabel",
       Item::Kind::file},
  };
  for (const Row& row : rows) {
    FileSearchHarness harness;
    harness.files->search(row.term, {});
    harness.index.deliver({row.hit});
    ASSERT_EQ(harness.delivered.size(), 1u) << row.shows;
    ASSERT_EQ(harness.delivered[0].size(), 1u) << row.shows;
    const Item& item = harness.delivered[0][0];
    EXPECT_EQ(item.title, row.title) << row.shows;
    EXPECT_EQ(item.subtitle, row.subtitle) << row.shows;
    EXPECT_EQ(item.kind, row.kind) << row.shows;
    EXPECT_EQ(item.id, "file:" + row.hit.path) << row.shows;
    EXPECT_EQ(item.path, row.hit.path) << row.shows;
    EXPECT_EQ(std::get<Item::Icon::File>(item.icon.value).path, row.hit.path) << row.shows;
    EXPECT_DOUBLE_EQ(item.score, 1000 - 200) << row.shows;
    EXPECT_FALSE(item.copyText || item.needsConfirm || item.keepsOpen) << row.shows;
    item.run();
    EXPECT_EQ(harness.workspace.openedFiles, std::vector<std::string>{row.hit.path}) << row.shows;
  }
}

TEST(FileSearchRows, SkipsEmptyNoisyAndUnmatchedHits) {
  FileSearchHarness harness;
  harness.files->search("xq", {});
  harness.index.deliver({{"", false},
                         {"/home/anna/Quarterly.xlsx", false},
                         {"/home/anna/build/xq.txt", false},
                         {"/home/anna/xq.txt", false}});
  harness.index.deliver({{"/home/anna/Quarterly.xlsx", false}});
  ASSERT_EQ(harness.delivered.size(), 2u);
  EXPECT_EQ(harness.delivered[0].size(), 1u);
  EXPECT_EQ(harness.delivered[0][0].path, "/home/anna/xq.txt");
  EXPECT_TRUE(harness.delivered[1].empty());
}

TEST(FileSearchRanking, BestScoresFirstTiesInIndexOrderUpToTheLimit) {
  std::vector<std::string> names(40, "old report.txt");
  names[3] = "report.pdf";
  names[10] = "report.txt";
  names[20] = "report";
  names[25] = "report.doc";
  names[33] = "report.rtf";
  names[38] = "report.odt";
  FileSearchHarness harness;
  harness.files->search("report", {.limit = 5});
  harness.index.deliver(inFolders(names));
  EXPECT_EQ(harness.lastTitles(), (std::vector<std::string>{"report", "report.pdf", "report.txt",
                                                            "report.doc", "report.rtf"}));
  EXPECT_DOUBLE_EQ(harness.delivered[0][1].score, 900 - (10 - 6) - 200);
}

TEST(FileSearchRanking, ExaminesOnlyTheFirst300Hits) {
  std::vector<std::string> names(300, "old report.txt");
  names.push_back("report");
  FileSearchHarness harness;
  harness.files->search("report", {.limit = 1000});
  harness.index.deliver(inFolders(names));
  EXPECT_EQ(harness.delivered[0].size(), 300u);
  EXPECT_EQ(harness.lastTitles().back(), "old report.txt");
}

TEST(FileSearchLifetime, DeliveriesForEndedQueriesAreIgnored) {
  Harness<LaggingIndex> lagging;
  lagging.files->search("first", {});
  lagging.files->search("second", {});
  lagging.index.callbacks[0](inFolders({"first.txt"}));
  EXPECT_TRUE(lagging.delivered.empty()) << "replaced query";
  lagging.files->stop();
  lagging.index.callbacks[1](inFolders({"second.txt"}));
  EXPECT_TRUE(lagging.delivered.empty()) << "stopped query";
  lagging.files->search("third", {});
  lagging.index.callbacks[2](inFolders({"third.txt"}));
  EXPECT_EQ(lagging.delivered.size(), 1u) << "live query";
  lagging.files.reset();
  lagging.index.callbacks[2](inFolders({"third.txt"}));
  EXPECT_EQ(lagging.delivered.size(), 1u) << "destroyed search";

  FileSearchHarness harness;
  harness.files->search("report", {});
  harness.files->stop();
  harness.index.deliver(inFolders({"report.txt"}));
  harness.files->search("report", {});
  harness.files.reset();
  EXPECT_FALSE(harness.index.running());
  harness.index.deliver(inFolders({"report.txt"}));
  EXPECT_TRUE(harness.delivered.empty());
}

}  // namespace
}  // namespace varek
