// FileSearch over an index that the test answers by hand, as late as a real one may.
#include "sources/file_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "tests/support/fake_platform.h"

namespace varek {
namespace {

using Hits = std::vector<FileIndex::Hit>;
using Titles = std::vector<std::string>;

class FileSearchTest : public ::testing::Test {
 protected:
  FileSearchTest() { setHome("/home/anna"); }
  void setHome(std::string home) {
    files = std::make_shared<FileSearch>(index, workspace, clock, std::move(home));
    files->setOnResults([this](std::vector<Item> rows) { delivered.push_back(std::move(rows)); });
  }
  // The index reports hits to the latest query; returns the titles delivered for them.
  Titles deliver(const Hits& hits) {
    index.callbacks.back()(hits);
    Titles titles;
    for (const Item& row : delivered.back()) titles.push_back(row.title);
    return titles;
  }

  test::VirtualScheduler clock;
  test::FakeFileIndex index;
  test::FakeWorkspace workspace;
  std::shared_ptr<FileSearch> files;
  std::vector<std::vector<Item>> delivered;
};

TEST_F(FileSearchTest, AsksTheIndexForTheTrimmedTermOfTwoCharactersOrMore) {
  // Each shorter one delivers an empty list at once, without asking the index.
  for (const char* term : {"a", " \tb  ", "e\u0301"}) files->search(term, {});
  EXPECT_EQ(delivered.size(), 3u);
  EXPECT_TRUE(std::ranges::all_of(delivered, &std::vector<Item>::empty) && index.requests.empty());
  delivered.clear();
  files->search(" \treport  ", {});
  files->search("report", {.openedOnly = true});
  const auto asked = [](const FileIndex::Request& request) {
    return std::tuple(request.term, request.openedOnly, request.openedSince, request.limit);
  };
  EXPECT_EQ(asked(index.requests.at(0)), std::tuple("report", false, 0.0, 300));
  EXPECT_EQ(asked(index.requests.at(1)),
            std::tuple("report", true, 800'000'000 - 63'072'000.0, 300));
  EXPECT_TRUE(delivered.empty());
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
    ASSERT_EQ(deliver(hits), Titles{title});
    const Item& item = delivered.back()[0];
    EXPECT_EQ(std::tie(item.subtitle, item.kind, item.id, item.path),
              std::tuple(subtitle, kind, "file:" + hit.path, hit.path));
    EXPECT_EQ(std::get<Item::Icon::File>(item.icon.value).path, hit.path);
    EXPECT_DOUBLE_EQ(item.score, 1000 - 200);  // below apps of the same match
    item.run();
    EXPECT_EQ(std::exchange(workspace.openedFiles, {}), Titles{hit.path});
  }
}

// Build output, packages, hidden paths and object files are noise. Only the part below the
// home folder is judged, so a home under a folder named like build output hides nothing.
TEST_F(FileSearchTest, NoiseIsJudgedBelowTheHomeFolder) {
  const std::pair<const char*, bool> rows[] = {
      {"/a/node_modules/x.js", true}, {"/a/.cache/x.txt", true},   {"/a/x.PYC", true},
      {"/a/Library/x.txt", true},     {"/a/library/x.txt", false}, {"/a/Makefile", false}};
  for (const auto& [path, noise] : rows) EXPECT_EQ(FileSearch::isNoise(path), noise) << path;
  setHome("/srv/build/anna");
  files->search("plan", {});
  EXPECT_EQ(deliver({{"/srv/build/anna/plan.txt"},
                     {"/srv/build/anna/build/plan.o.txt"},
                     {"/srv/build/annaplan.txt"}}),
            Titles{"plan.txt"});
}

TEST_F(FileSearchTest, BestScoresFirstTiesInIndexOrderUpToTheLimit) {
  Hits hits(40, {"/home/anna/old report.txt"});
  // "report" beats everything; the five after it tie, so the index's order decides.
  const char* matches[] = {"report.pdf", "report.txt", "report",
                           "report.doc", "report.rtf", "report.odt"};
  for (int index = 0; index < 6; ++index)
    hits[3 + 7 * index].path = "/home/anna/" + std::string(matches[index]);
  files->search("report", {.limit = 5});
  EXPECT_EQ(deliver(hits),
            (Titles{"report", "report.pdf", "report.txt", "report.doc", "report.rtf"}));
  EXPECT_DOUBLE_EQ(delivered[0][1].score, 900 - (10 - 6) - 200);  // a prefix, 4 unmatched

  // Only the first 300 hits are ranked: a better match after them is never seen.
  hits.assign(300, {"/home/anna/old report.txt"});
  hits.push_back({"/home/anna/report"});
  files->search("report", {.limit = 1000});
  EXPECT_EQ(deliver(hits), Titles(300, "old report.txt"));
}

TEST_F(FileSearchTest, DeliveriesForEndedQueriesAreIgnored) {
  files->search("first", {});
  files->search("second", {});
  index.callbacks[0]({{"/home/anna/first.txt"}});
  EXPECT_TRUE(delivered.empty()) << "replaced query";
  files->stop();
  EXPECT_FALSE(index.running()) << "the index's query ends too";
  index.callbacks[1]({{"/home/anna/second.txt"}});
  EXPECT_TRUE(delivered.empty()) << "stopped query";
  files->search("third", {});
  EXPECT_EQ(deliver({{"/home/anna/third.txt"}}), Titles{"third.txt"});
  files.reset();
  index.callbacks[2]({{"/home/anna/third.txt"}});
  EXPECT_EQ(delivered.size(), 1u) << "destroyed search";
}

}  // namespace
}  // namespace varek
