#include "search/search_model.h"

#include <gtest/gtest.h>

#include "search/bench.h"
#include "tests/support/fake_platform.h"

namespace varek {
namespace {

using Mode = SearchModel::Mode;
using Action = SearchModel::Action;
using Field = SearchModel::Field;

ScannedApp app(std::string name, std::string path, std::string alternate = "") {
  return {.name = std::move(name),
          .alternateName = std::move(alternate),
          .path = std::move(path),
          .url = std::nullopt};
}

struct SearchModelTest : ::testing::Test {
  test::FakePlatform fake;
  std::shared_ptr<SearchModel> model;
  std::vector<Field> changes;
  int hides = 0;

  SearchModelTest() {
    fake.appScanner.apps = {
        app("Safari", "/apps/safari.desktop"), app("Terminal", "/apps/terminal.desktop"),
        app("Mail", "/apps/mail.desktop"), app("Notizen", "/apps/notes.desktop", "Notes")};
    fake.appScanner.settings = {{.name = "Netzwerk",
                                 .alternateName = "network",
                                 .path = "/settings/network.desktop",
                                 .url = "settings://network"}};
  }
  void SetUp() override { build(); }
  void build() {
    model = SearchModel::create(fake.platform());
    model->setObserver([this](Field field) { changes.push_back(field); });
    model->setHide([this] { ++hides; });
  }
  std::vector<std::string> ids() const {
    std::vector<std::string> result;
    for (const Item& row : model->items()) result.push_back(row.id);
    return result;
  }
  int count(Field field) const {
    return static_cast<int>(std::count(changes.begin(), changes.end(), field));
  }
  int indexOf(const std::string& id) const {
    const auto all = ids();
    const auto found = std::find(all.begin(), all.end(), id);
    return found == all.end() ? -1 : static_cast<int>(found - all.begin());
  }
};

// Observers hear of a field only when its value really changed.
TEST_F(SearchModelTest, NotifiesOnlyRealChanges) {
  model->setQuery("saf");
  EXPECT_EQ(count(Field::query), 1);
  EXPECT_EQ(count(Field::items), 1);
  model->setQuery("saf");  // typing the same text again runs no search
  EXPECT_EQ(count(Field::query), 1);
  EXPECT_EQ(count(Field::items), 1);
  model->setSelection(0);
  EXPECT_EQ(count(Field::selection), 0);
  model->setSelection(1);
  model->setSelection(1);
  EXPECT_EQ(count(Field::selection), 1);
  model->setMode(Mode::all);
  EXPECT_EQ(count(Field::mode), 0);
  model->setMode(Mode::clipboard);
  EXPECT_EQ(count(Field::mode), 1);
  EXPECT_EQ(model->selection(), 0) << "every search selects the first row";
}

TEST_F(SearchModelTest, MoveWrapsAroundAndNeedsRows) {
  model->setQuery("a");
  const int rows = static_cast<int>(model->items().size());
  ASSERT_GE(rows, 3);
  const std::pair<int, int> moves[] = {{-1, rows - 1}, {1, 0}, {2, 2}, {-3 * rows, 2}};
  for (const auto& [delta, expected] : moves) {
    model->move(delta);
    EXPECT_EQ(model->selection(), expected) << delta;
  }
  model->setQuery(">");
  ASSERT_TRUE(model->items().empty());
  model->move(1);
  EXPECT_EQ(model->selection(), 0);
}

// A dangerous command runs only on a second Return to the same row without anything in
// between; moving or typing makes the next Return a first one again.
TEST_F(SearchModelTest, ConfirmationNeedsTwoReturnsInARow) {
  auto selectRestart = [&] {
    model->setQuery("neustart");
    ASSERT_EQ(model->items().front().id, "cmd:Neustart");
  };
  selectRestart();
  model->activate(Action::open);
  EXPECT_EQ(model->confirmID(), "cmd:Neustart");
  EXPECT_TRUE(fake.systemActions.performed.empty());
  model->setQuery("neustart");  // the same text: no change, confirmation kept
  model->activate(Action::open);
  EXPECT_EQ(fake.systemActions.performed, std::vector{SystemAction::restart});
  EXPECT_EQ(hides, 1);

  fake.systemActions.performed.clear();
  model->setQuery("neustar");
  selectRestart();
  model->activate(Action::open);
  model->setQuery("neustar");  // typing clears the confirmation
  selectRestart();
  model->activate(Action::open);
  model->move(1);
  model->move(-1);  // so does moving
  model->activate(Action::open);
  EXPECT_TRUE(fake.systemActions.performed.empty());
  EXPECT_EQ(model->confirmID(), "cmd:Neustart");
}

TEST_F(SearchModelTest, CopyTakesPathThenCopyTextThenTitle) {
  struct Row {
    const char* name;
    std::string query;
    std::string id;
    std::string copied;
  } rows[] = {
      {"application row copies its path", "safari", "app:/apps/safari.desktop",
       "/apps/safari.desktop"},
      {"calculator row copies its result", "12*7+3", "calc", "87"},
      {"command row copies its title", "neustart", "cmd:Neustart", "Neustart"},
  };
  for (const auto& row : rows) {
    model->setQuery(row.query);
    model->setSelection(indexOf(row.id));
    model->activate(Action::copy);
    EXPECT_EQ(fake.pasteboard.text(), row.copied) << row.name;
    // The launcher's own copy is not recorded as history.
    EXPECT_EQ(model->clipboard().lastChange(), fake.pasteboard.changeCount()) << row.name;
  }
  EXPECT_EQ(hides, 3);
  EXPECT_GT(model->learning().boost("calc", ""), 0);
}

TEST_F(SearchModelTest, RevealWithoutPathBeepsAndLearnsNothing) {
  model->setQuery("neustart");
  model->activate(Action::reveal);
  EXPECT_EQ(fake.workspace.beeps, 1);
  EXPECT_EQ(hides, 0);
  EXPECT_EQ(model->learning().boost("cmd:Neustart", ""), 0);

  model->setQuery("safari");
  model->activate(Action::reveal);
  EXPECT_EQ(fake.workspace.revealed, std::vector<std::string>{"/apps/safari.desktop"});
  EXPECT_EQ(hides, 1);
}

// Learn, hide, run: the action sees the panel already gone and the pick already counted.
TEST_F(SearchModelTest, OpenLearnsHidesThenRuns) {
  model->setQuery("term");
  std::vector<std::string> order;
  model->setHide([&] { order.push_back("hide"); });
  Item row = model->items().front();
  ASSERT_EQ(row.id, "app:/apps/terminal.desktop");
  model->activate(Action::open);
  EXPECT_EQ(order, std::vector<std::string>{"hide"});
  EXPECT_EQ(fake.workspace.openedApps, std::vector<std::string>{"/apps/terminal.desktop"});
  EXPECT_NEAR(model->learning().boost(row.id, Learning::queryKey("term")), 18 + 250, 1e-9);
  // The learned pick lifts the row on the next search for the same text.
  model->setQuery("");
  EXPECT_EQ(ids().front(), row.id) << "an empty query lists the favourites";
}

TEST_F(SearchModelTest, SpecialRowsComeFromTheShapeOfTheText) {
  fake.dictionary.definitions["Haus"] = "Gebäude\nzum Wohnen";
  fake.workspace.apps = {{.pid = 5, .name = "Mail", .path = "/apps/mail.desktop", .regular = true},
                         {.pid = 6, .name = "Mail Agent", .path = std::nullopt, .regular = false}};
  struct Row {
    const char* name;
    std::string query;
    std::string firstId;
    std::string title;
    std::string subtitle;
  } rows[] = {
      {"shell command", "> ls -la", "shell", "ls -la", "Im Terminal ausführen"},
      {"web shortcut keeps the text's case", "G Foo bar", "web:g", "Foo bar", "Bei Google suchen"},
      {"dictionary with definition", "def Haus", "dict", "Haus", "Gebäude zum Wohnen"},
      {"dictionary without definition", "lex Baum", "dict", "Baum", "Im Lexikon nachschlagen"},
      {"quit a regular app", "quit mail", "quit:Mail", "Mail beenden", "Läuft gerade"},
      {"calculator", "2+3*4", "calc", "14", "2+3*4 ="},
      {"address gets a scheme", "example.org/a", "url", "https://example.org/a", "Adresse öffnen"},
      {"localhost with a port", "localhost:8080", "url", "https://localhost:8080",
       "Adresse öffnen"},
  };
  for (const auto& row : rows) {
    model->setQuery(row.query);
    ASSERT_FALSE(model->items().empty()) << row.name;
    const Item& first = model->items().front();
    EXPECT_EQ(first.id, row.firstId) << row.name;
    EXPECT_EQ(first.title, row.title) << row.name;
    EXPECT_EQ(first.subtitle, row.subtitle) << row.name;
  }
  model->setQuery("quit mail");
  EXPECT_EQ(indexOf("quit:Mail Agent"), -1) << "background agents are never listed";
  model->setQuery("> ls -la");
  EXPECT_EQ(model->items().size(), 1u) << "a shell command asks no other source";
  for (std::string text : {">", ">   ", "yt   ", "exa mple.org"}) {
    model->setQuery(text);
    EXPECT_EQ(indexOf("shell") + indexOf("web:yt") + indexOf("url"), -3) << text;
  }
}

TEST_F(SearchModelTest, RanksBySourceBandsAndEndsWithTheWebRow) {
  model->setQuery("yt cats");
  ASSERT_GE(model->items().size(), 2u);
  EXPECT_EQ(model->items().front().id, "web:yt");
  EXPECT_EQ(model->items().front().score, 3000);
  EXPECT_EQ(model->items().back().id, "web:fallback");
  EXPECT_EQ(model->items().back().title, "„yt cats“ im Web suchen");
  EXPECT_EQ(model->items().back().score, -1000);

  // "net" is a prefix of both names of the pane; an application would score 40 more.
  model->setQuery("network");
  const Item& pane =
      model->items()[static_cast<std::size_t>(indexOf("set:/settings/network.desktop"))];
  EXPECT_EQ(pane.score, 1000 - 40);
  EXPECT_EQ(pane.subtitle, "Systemeinstellungen");
  EXPECT_EQ(indexOf("layout:Linke Hälfte"), -1) << "layouts are absent when they do not match";
}

TEST_F(SearchModelTest, CapsAtThirtyRowsPlusTheWebRow) {
  fake.appScanner.apps.clear();
  for (int number = 0; number < 40; ++number) {
    fake.appScanner.apps.push_back(
        app("Tool " + std::to_string(number), "/t/" + std::to_string(number)));
  }
  build();
  model->setQuery("tool");
  ASSERT_EQ(model->items().size(), 31u);
  EXPECT_EQ(model->items()[0].id, "app:/t/0") << "equal scores keep the index order";
  EXPECT_EQ(model->items()[29].id, "app:/t/29");
  EXPECT_EQ(model->items()[30].id, "web:fallback");
}

TEST_F(SearchModelTest, CommandsNeedAStrongMatchUnlessTheTermIsLong) {
  // "wlnn" and "wln" are scattered in "WLAN ein / aus wifi wlan netzwerk": subsequence scores.
  model->setQuery("wlan");
  EXPECT_GE(indexOf("cmd:WLAN ein / aus"), 0);
  model->setQuery("wlnz");
  EXPECT_GE(indexOf("cmd:WLAN ein / aus"), 0) << "four characters and a subsequence";
  model->setQuery("wlz");
  EXPECT_EQ(indexOf("cmd:WLAN ein / aus"), -1) << "three characters need 550";
}

TEST_F(SearchModelTest, FileRowsMergeUnderThePinnedWebRowKeepingTheSelection) {
  model->setQuery("no");
  ASSERT_EQ(fake.fileIndex.requests.back().term, "no");
  EXPECT_TRUE(fake.fileIndex.requests.back().openedOnly);
  const auto base = ids();
  ASSERT_GE(base.size(), 3u);
  model->setSelection(1);
  const std::string selected = base[1];

  fake.fileIndex.deliver({{"/home/anna/no.txt", false}, {"/home/anna/Notes", true}});
  EXPECT_EQ(model->items().back().id, "web:fallback");
  EXPECT_EQ(model->items().size(), base.size() + 2);
  EXPECT_EQ(model->items()[static_cast<std::size_t>(model->selection())].id, selected);

  model->setSelection(0);
  fake.fileIndex.deliver({{"/home/anna/no", false}});  // an exact name ranks first
  EXPECT_EQ(model->selection(), 0) << "the first row stays selected, whichever it is";
  EXPECT_EQ(model->items().size(), base.size() + 1) << "each batch merges into the same base";

  model->setMode(Mode::files);
  EXPECT_TRUE(model->items().empty()) << "the files mode waits for the index";
  EXPECT_FALSE(fake.fileIndex.requests.back().openedOnly);
  fake.fileIndex.deliver({{"/home/anna/notes.md", false}});
  EXPECT_EQ(ids(), std::vector<std::string>{"file:/home/anna/notes.md"});
  model->setMode(Mode::clipboard);
  EXPECT_FALSE(fake.fileIndex.running());
}

TEST_F(SearchModelTest, ClipboardModeListsHistoryNewestFirst) {
  auto copy = [&](std::string text) {
    fake.pasteboard.copy(std::move(text));
    fake.scheduler.advance(1.0);
  };
  copy("/home/anna/a.txt");
  copy("Café am Markt");
  copy("line one\nline two");
  copy(std::string(500, 'x'));
  model->setMode(Mode::clipboard);
  ASSERT_EQ(ids(), (std::vector<std::string>{"clip:0", "clip:1", "clip:2", "clip:3"}));
  const auto& rows = model->items();
  EXPECT_EQ(rows[0].title.size(), 200u);
  EXPECT_EQ(rows[0].copyText->size(), 500u);
  EXPECT_EQ(rows[1].title, "line one ⏎ line two");
  EXPECT_EQ(rows[1].subtitle, "vor 1 Sek. · 2 Zeilen · ⏎ einfügen");
  EXPECT_EQ(rows[2].subtitle, "vor 2 Sek. · ⏎ einfügen");
  EXPECT_EQ(rows[3].path, "/home/anna/a.txt");
  EXPECT_EQ(std::get<Item::Icon::Symbol>(rows[3].icon.value).name, "doc.on.doc.fill");

  model->setQuery("CAFE");
  EXPECT_EQ(ids(), std::vector<std::string>{"clip:2"});
  model->setQuery("cfe");
  EXPECT_TRUE(ids().empty()) << "a substring, not a fuzzy match";

  // Pasting an older entry puts it on the clipboard without reordering the history.
  model->setQuery("");
  model->setSelection(3);
  model->activate(Action::open);
  EXPECT_EQ(fake.windowServer.pastes, 0) << "the keystroke waits for the panel to go";
  fake.scheduler.advance(0.12);
  EXPECT_EQ(fake.windowServer.pastes, 1);
  EXPECT_EQ(fake.pasteboard.text(), "/home/anna/a.txt");
  fake.scheduler.advance(0.5);
  EXPECT_EQ(model->clipboard().entries().front().text, std::string(500, 'x'));
}

TEST_F(SearchModelTest, WindowsModeNeedsTrustAndListsInTheBackground) {
  fake.workspace.apps = {{.pid = 5, .name = "Mail", .path = "/apps/mail.desktop", .regular = true},
                         {.pid = 6, .name = "Files", .path = std::nullopt, .regular = true}};
  fake.windowServer.windows[5] = {{50, "Posteingang"}};
  fake.windowServer.windows[6] = {{60, "Posteingang"}};

  model->willShow();
  model->setMode(Mode::windows);
  EXPECT_TRUE(ids().empty()) << "the old cache shows until the listing arrives";
  fake.scheduler.runBackground();
  EXPECT_EQ(ids(), (std::vector<std::string>{"win:5:Posteingang", "win:6:Posteingang"}));
  model->setQuery("post");
  EXPECT_EQ(ids(), (std::vector<std::string>{"win:5:Posteingang", "win:6:Posteingang"}))
      << "equal scores keep the window order";
  model->activate(Action::open);
  EXPECT_EQ(fake.windowServer.raised, std::vector<WindowId>{50});
  EXPECT_EQ(fake.workspace.activated, std::vector<int>{5});

  fake.windowServer.trusted = false;
  model->setQuery("anything");
  ASSERT_EQ(ids(), std::vector<std::string>{"ax"});
  model->activate(Action::open);
  EXPECT_EQ(fake.windowServer.trustRequests, 1);
  EXPECT_EQ(hides, 1) << "the request row keeps the panel open";
}

TEST_F(SearchModelTest, LayoutRowsPlaceTheFrontWindowAfterAShortDelay) {
  fake.workspace.frontmost =
      RunningApp{.pid = 9, .name = "Editor", .path = std::nullopt, .regular = true};
  fake.windowServer.focused[9] = 90;
  fake.windowServer.frames[90] = {100, 100, 400, 300};
  model->willShow();
  model->setQuery("linke hälfte");
  ASSERT_EQ(model->items().front().id, "layout:Linke Hälfte");
  EXPECT_EQ(model->items().front().subtitle, "Editor");
  model->activate(Action::open);
  EXPECT_TRUE(fake.windowServer.placed.empty());
  fake.scheduler.advance(0.05);
  ASSERT_EQ(fake.windowServer.placed.size(), 1u);
  EXPECT_EQ(fake.windowServer.placed[0].second, (Rect{0, 25, 720, 875}));
}

TEST_F(SearchModelTest, RecentsAreRebuiltFromLearnedIds) {
  for (const char* id : {"app:/apps/mail.desktop", "layout:Zentrieren", "cmd:Neustart",
                         "win:5:Posteingang", "clip:0", "app:/gone.desktop"}) {
    model->learning().record(id, "x");
  }
  model->learning().record("layout:Zentrieren", "x");
  model->setQuery("x");
  model->setQuery("");
  EXPECT_EQ(ids(), (std::vector<std::string>{"layout:Zentrieren", "app:/apps/mail.desktop",
                                             "cmd:Neustart"}));
  EXPECT_EQ(model->items()[0].title, "Fenster: Zentrieren");
  EXPECT_TRUE(model->items()[2].needsConfirm);
}

TEST(Bench, SummarizesTheSortedDurations) {
  std::vector<double> durations;
  for (int index = 259; index >= 0; --index) durations.push_back(index * 0.01);
  const BenchResult result = summarize(durations, 388);
  EXPECT_EQ(result.searches, 260u);
  EXPECT_DOUBLE_EQ(result.median, 130 * 0.01) << "the upper of the two middle values";
  EXPECT_DOUBLE_EQ(result.percentile95, 247 * 0.01);
  EXPECT_DOUBLE_EQ(result.maximum, 259 * 0.01);
  EXPECT_EQ(benchLine(result),
            "Bench: 260 Suchen, Median 1.30 ms, 95% 2.47 ms, Max 2.59 ms, 388 Einträge im Index");
}

TEST_F(SearchModelTest, BenchRuns260SearchesAndLeavesTheQueryEmpty) {
  const BenchResult result = bench(*model);
  EXPECT_EQ(result.searches, 260u);
  EXPECT_EQ(result.entries, 5u);
  EXPECT_LE(result.median, result.percentile95);
  EXPECT_EQ(model->query(), "");
}

}  // namespace
}  // namespace varek
