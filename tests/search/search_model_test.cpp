#include "search/search_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/support/fake_platform.h"
#include "tests/support/files.h"

namespace varek {
namespace {

using Mode = SearchModel::Mode;
using Action = SearchModel::Action;
using Field = SearchModel::Field;
using Ids = std::vector<std::string>;

// Whether any file under folder holds text.
bool anyFileHolds(const std::filesystem::path& folder, const std::string& text) {
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file() && test::readFile(entry.path()).find(text) != std::string::npos)
      return true;
  }
  return false;
}

struct SearchModelTest : ::testing::Test {
  test::FakePlatform fake;
  std::shared_ptr<SearchModel> model;
  std::vector<Field> changes;
  int hides = 0;

  SearchModelTest() {
    fake.appScanner.apps = {{"Safari", "", "/apps/safari.desktop", {}, "Webbrowser"},
                            {"Terminal", "", "/apps/terminal.desktop", {}},
                            {"Mail", "", "/apps/mail.desktop", {}},
                            {"Notizen", "Notes", "/apps/notes.desktop", {}}};
    fake.appScanner.settings = {{"Netzwerk", "network", "/settings/network.desktop", "s://net"}};
    fake.workspace.apps = {
        {.pid = 5, .name = "Mail", .path = "/apps/mail.desktop", .regular = true},
        {.pid = 6, .name = "Mail Agent", .path = {}, .regular = false}};
  }
  void SetUp() override { build(); }
  void build() {
    model = SearchModel::create(fake.platform());
    model->setObserver([this](Field field) { changes.push_back(field); });
    model->setHide([this] { ++hides; });
  }
  void copy(const std::string& text, std::vector<std::string> types = {"text/plain"}) {
    fake.pasteboard.copy(text, std::move(types));
    fake.scheduler.advance(ClipboardHistory::kPollSeconds);
  }
  Ids ids() const {
    Ids result;
    for (const Item& row : model->items()) result.push_back(row.id);
    return result;
  }
  int indexOf(const std::string& id) const {
    const auto found = std::ranges::find(model->items(), id, &Item::id);
    return found == model->items().end() ? -1 : static_cast<int>(found - model->items().begin());
  }
};

// Observers hear of a field only when its value really changed; every search selects row 0.
// Moving wraps around, and needs rows.
TEST_F(SearchModelTest, NotifiesOnlyRealChangesAndMovesAround) {
  model->setQuery("saf");
  model->setQuery("saf");      // the same text again runs no search
  fake.fileIndex.deliver({});  // no file rows to add to a list without any
  model->setSelection(0);
  model->setSelection(1);
  model->setSelection(1);
  model->setMode(Mode::clipboard);
  model->setMode(Mode::clipboard);
  for (const auto& [field, count] :
       {std::pair{Field::query, 1}, {Field::mode, 1}, {Field::items, 2}, {Field::selection, 2}}) {
    EXPECT_EQ(std::ranges::count(changes, field), count);
  }
  model->setMode(Mode::all);
  model->setQuery("a");
  const int rows = static_cast<int>(model->items().size());
  ASSERT_GE(rows, 3);
  for (const auto& [delta, expected] : {std::pair{-1, rows - 1}, {1, 0}, {2, 2}, {-3 * rows, 2}}) {
    model->move(delta);
    EXPECT_EQ(model->selection(), expected) << delta;
  }
  model->setQuery(">");
  model->move(1);
  EXPECT_EQ(model->selection(), 0);
}

// A dangerous command runs only on a second Return to the same row with nothing in between;
// typing or moving makes the next Return a first one again.
TEST_F(SearchModelTest, ConfirmationNeedsTwoReturnsInARow) {
  model->setQuery("neustart");
  ASSERT_EQ(model->items().front().id, "cmd:Neustart");
  model->activate(Action::open);
  model->setQuery("neustart");  // the same text: no change, confirmation kept
  model->activate(Action::open);
  EXPECT_EQ(fake.systemActions.performed, std::vector{SystemAction::restart});
  EXPECT_EQ(hides, 1);
  for (int round = 0; round < 2; ++round) {
    model->setQuery("neustar");
    model->setQuery("neustart");
    model->activate(Action::open);
    model->move(1);
    model->move(-1);
    model->activate(Action::open);
  }
  EXPECT_EQ(fake.systemActions.performed.size(), 1u);
  EXPECT_EQ(model->confirmID(), "cmd:Neustart");
}

// Copy takes the path, else the copy text, else the title, and is not recorded as history;
// reveal needs a path and otherwise beeps, keeping the panel and learning nothing.
TEST_F(SearchModelTest, CopyAndRevealTakeWhatTheRowOffers) {
  const std::tuple<std::string, std::string, std::string> rows[] = {
      {"safari", "app:/apps/safari.desktop", "/apps/safari.desktop"},
      {"12*7+3", "calc", "87"},
      {"neustart", "cmd:Neustart", "Neustart"}};
  for (const auto& [query, id, copied] : rows) {
    model->setQuery(query);
    model->setSelection(indexOf(id));
    model->activate(Action::reveal);
    model->activate(Action::copy);
    EXPECT_EQ(fake.pasteboard.text(), copied) << id;
    EXPECT_EQ(model->clipboard().lastChange(), fake.pasteboard.changeCount()) << id;
  }
  EXPECT_EQ(fake.workspace.revealed, Ids{"/apps/safari.desktop"});
  EXPECT_EQ(fake.workspace.beeps, 2);
  EXPECT_EQ(hides, 3 + 1);
  EXPECT_NEAR(model->learning().boost("calc", ""), 18, 1e-9) << "one use: the copy";
}

// Learn, hide, run: the action sees the panel already gone and the pick already counted.
TEST_F(SearchModelTest, OpenLearnsHidesThenRuns) {
  model->setQuery("term");
  const std::string id = model->items().front().id;
  ASSERT_EQ(id, "app:/apps/terminal.desktop");
  model->setHide([&] {
    EXPECT_TRUE(fake.workspace.openedApps.empty());
    EXPECT_GT(model->learning().boost(id, Learning::queryKey("term")), 0);
    ++hides;
  });
  model->activate(Action::open);
  EXPECT_EQ(hides, 1);
  EXPECT_EQ(fake.workspace.openedApps, Ids{"/apps/terminal.desktop"});
}

TEST_F(SearchModelTest, SpecialRowsComeFromTheShapeOfTheText) {
  fake.dictionary.definitions["Haus"] = "Gebäude\nzum Wohnen";
  const std::string address = "Adresse öffnen";
  const std::tuple<std::string, std::string, std::string, std::string> rows[] = {
      {"> ls -la", "shell", "ls -la", "Im Terminal ausführen"},
      {"\u00A0> ls\u3000", "shell", "ls", "Im Terminal ausführen"},  // blanks trimmed
      {"G Foo bar", "web:g", "Foo bar", "Bei Google suchen"},        // the key in any case
      {"def Haus", "dict", "Haus", "Gebäude zum Wohnen"},
      {"lex Baum", "dict", "Baum", "Im Lexikon nachschlagen"},
      {"quit mail", "quit:Mail", "Mail beenden", "Läuft gerade"},
      {"2+3*4", "calc", "14", "2+3*4 ="},
      {"example.org/a", "url", "https://example.org/a", address},
      {"\u00A0example.org", "url", "https://example.org", address},
      {"localhost:8080", "url", "https://localhost:8080", address},
      {"httpbin.org", "url", "https://httpbin.org", address},  // no scheme, only a host
      {"http.cat", "url", "https://http.cat", address},
      {"http://httpie.io/docs", "url", "http://httpie.io/docs", address},
      // An application's row says what it is, or that it runs; never its folder.
      {"safari", "app:/apps/safari.desktop", "Safari", "Webbrowser"},
      {"mail", "app:/apps/mail.desktop", "Mail", "Läuft"},
      {"terminal", "app:/apps/terminal.desktop", "Terminal", ""},
  };
  for (const auto& [query, id, title, subtitle] : rows) {
    model->setQuery(query);
    const Item& first = model->items().at(0);
    EXPECT_EQ(first.id + " " + first.title + " " + first.subtitle,
              id + " " + title + " " + subtitle);
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

// A pick lifts its own row, also after a refresh put a new entry before it.
TEST_F(SearchModelTest, PicksFollowTheirEntryAcrossRefreshes) {
  const auto terminalBeforeSafari = [this] {
    model->setQuery("");
    model->setQuery("a");
    return indexOf("app:/apps/terminal.desktop") < indexOf("app:/apps/safari.desktop");
  };
  ASSERT_FALSE(terminalBeforeSafari());
  model->setSelection(indexOf("app:/apps/terminal.desktop"));
  model->activate(Action::open);
  EXPECT_TRUE(terminalBeforeSafari());
  fake.appScanner.apps.insert(fake.appScanner.apps.begin(), {"Zebra", "", "/apps/zebra", {}});
  model->apps().refresh(AppIndex::Refresh::force);
  fake.scheduler.runBackground();
  EXPECT_TRUE(terminalBeforeSafari());
}

// Special rows above fuzzy matches, settings 40 under applications, the web row last; at most
// 30 rows before it, equal scores in index order; layouts and commands only when they match
// well.
TEST_F(SearchModelTest, RanksBySourceBandsAndCapsAtThirtyRows) {
  model->setQuery("yt cats");
  EXPECT_EQ(model->items().front().id, "web:yt");
  EXPECT_EQ(model->items().back().title, "„yt cats“ im Web suchen");
  model->setQuery("network");  // the second name of the pane, exactly
  const Item& pane =
      model->items().at(static_cast<std::size_t>(indexOf("set:/settings/network.desktop")));
  EXPECT_EQ(pane.score, 1000 - 40);
  EXPECT_EQ(pane.subtitle, "Einstellungen");
  EXPECT_EQ(indexOf("layout:Linke Hälfte"), -1);
  // A command needs 550, or 300 from four characters on: "wlnz" and "wlz" are scattered in
  // "WLAN ein / aus wifi wlan netzwerk".
  for (const auto& [query, listed] : {std::pair{"wlan", true}, {"wlnz", true}, {"wlz", false}}) {
    model->setQuery(query);
    EXPECT_EQ(indexOf("cmd:WLAN ein / aus") >= 0, listed) << query;
  }
  fake.appScanner.apps.clear();
  for (int n = 0; n < 40; ++n)
    fake.appScanner.apps.push_back({"Tool", "", "/t/" + std::to_string(n), {}});
  build();
  model->setQuery("tool");
  ASSERT_EQ(model->items().size(), 31u);
  EXPECT_EQ(model->items()[29].id, "app:/t/29");
  EXPECT_EQ(model->items()[30].id, "web:fallback");
}

TEST_F(SearchModelTest, FileRowsMergeUnderThePinnedWebRowKeepingTheSelection) {
  model->setQuery("no");
  EXPECT_TRUE(fake.fileIndex.requests.back().openedOnly);
  const auto base = ids();
  model->setSelection(1);
  fake.fileIndex.deliver({{"/home/anna/no.txt", false}, {"/home/anna/Notes", true}});
  EXPECT_EQ(model->items().back().id, "web:fallback");
  EXPECT_EQ(model->items().size(), base.size() + 2);
  EXPECT_EQ(model->items()[static_cast<std::size_t>(model->selection())].id, base.at(1));
  model->setSelection(0);
  fake.fileIndex.deliver({{"/home/anna/no", false}});  // an exact name ranks first
  EXPECT_EQ(model->selection(), 0) << "the first row stays selected, whichever it is";
  EXPECT_EQ(model->items().size(), base.size() + 1) << "each batch merges into the same base";
  model->setMode(Mode::files);
  EXPECT_TRUE(model->items().empty()) << "the files mode waits for the index";
  EXPECT_FALSE(fake.fileIndex.requests.back().openedOnly);
  fake.fileIndex.deliver({{"/home/anna/notes.md", false}});
  EXPECT_EQ(ids(), Ids{"file:/home/anna/notes.md"});
  model->setMode(Mode::clipboard);
  EXPECT_FALSE(fake.fileIndex.running());
}

TEST_F(SearchModelTest, ClipboardModeListsHistoryNewestFirst) {
  for (const std::string& text : std::vector<std::string>{
           "/home/anna/a.txt", "Café am Markt", "line one\nline two", std::string(500, 'x')}) {
    fake.pasteboard.copy(text);
    fake.scheduler.advance(1.0);
  }
  model->setMode(Mode::clipboard);
  EXPECT_TRUE(model->clipboard().polling());
  ASSERT_EQ(ids(), (Ids{"clip:0", "clip:1", "clip:2", "clip:3"}));
  const auto& rows = model->items();
  EXPECT_EQ(rows[0].title, std::string(200, 'x'));
  EXPECT_EQ(rows[0].copyText, std::string(500, 'x'));
  EXPECT_EQ(rows[1].title + " | " + rows[1].subtitle,
            "line one ⏎ line two | vor 1 Sek. · 2 Zeilen · Eingabe fügt ein");
  EXPECT_EQ(rows[2].subtitle, "vor 2 Sek. · Eingabe fügt ein");
  EXPECT_EQ(rows[3].path, "/home/anna/a.txt");
  EXPECT_EQ(std::get<Item::Icon::Symbol>(rows[3].icon.value).name, "doc.on.doc.fill");
  for (const auto& [query, listed] : {std::pair{"CAFE", Ids{"clip:2"}}, {"cfe", Ids{}}}) {
    model->setQuery(query);  // a folded substring, not a fuzzy match
    EXPECT_EQ(ids(), listed) << query;
  }
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
  // Where no keystroke reaches other windows, Return copies and the row tells how to paste.
  fake.windowServer.pasting = false;
  model->search();
  EXPECT_TRUE(model->items()[2].subtitle.ends_with("Sek. · Strg+V zum Einfügen"))
      << model->items()[2].subtitle;
  model->setSelection(2);
  model->activate(Action::open);
  fake.scheduler.advance(1.0);
  EXPECT_EQ(fake.windowServer.pastes, 1);
  EXPECT_EQ(fake.pasteboard.text(), "Café am Markt");
  // A history that fills only while the panel has the focus says so below its entries,
  // unless a query filters them or recording is off.
  fake.pasteboard.focusOnly = true;
  for (const auto& [query, enabled, last] :
       {std::tuple{"", true, "clip:focus"}, {"", false, "clip:3"}, {"a", true, "clip:3"}}) {
    model->clipboard().setEnabled(enabled);
    model->setQuery(query);
    model->search();
    EXPECT_EQ(ids().back(), last) << query << enabled;
  }
}

// Titled windows of regular applications, in the workspace's order, and only with trust; a
// layout row places the focused window of the application that was in front, a moment later.
TEST_F(SearchModelTest, WindowAndLayoutRowsNeedTrust) {
  fake.workspace.apps.push_back({.pid = 7, .name = "Files", .path = {}, .regular = true});
  fake.workspace.frontmost = fake.workspace.apps.back();
  fake.windowServer.windows[5] = {{50, "Posteingang"}, {51, ""}};
  fake.windowServer.windows[6] = {{60, "Posteingang"}};  // a background agent's
  fake.windowServer.windows[7] = {{70, "Posteingang"}, {71, "Bilder"}};
  fake.windowServer.focused[7] = 71;
  fake.windowServer.frames[71] = {100, 100, 400, 300};
  model->willShow();
  model->refreshSources();
  model->setMode(Mode::windows);
  EXPECT_TRUE(ids().empty()) << "the old cache shows until the listing arrives";
  fake.scheduler.runBackground();
  EXPECT_EQ(ids(), (Ids{"win:5:Posteingang", "win:7:Posteingang", "win:7:Bilder"}));
  model->setQuery("post");
  EXPECT_EQ(ids(), (Ids{"win:5:Posteingang", "win:7:Posteingang"})) << "equal scores keep order";
  model->activate(Action::open);
  EXPECT_EQ(fake.windowServer.raised, std::vector<WindowId>{50});
  EXPECT_EQ(fake.workspace.activated, std::vector<int>{5});
  model->setMode(Mode::all);
  model->setQuery("linke hälfte");
  ASSERT_EQ(model->items().front().id, "layout:Linke Hälfte");
  EXPECT_EQ(model->items().front().subtitle, "Files");
  model->activate(Action::open);
  EXPECT_TRUE(fake.windowServer.placed.empty());
  fake.scheduler.advance(0.05);
  ASSERT_EQ(fake.windowServer.placed.size(), 1u);
  EXPECT_EQ(fake.windowServer.placed[0], std::pair(WindowId{71}, Rect{0, 25, 720, 875}));
  // Where windows are listed but cannot be moved, the row says why and places nothing.
  fake.windowServer.placing = false;
  model->setQuery("linke hälft");
  ASSERT_EQ(model->items().front().id, "layout:Linke Hälfte");
  EXPECT_EQ(model->items().front().subtitle, fake.windowServer.placementReason());
  model->activate(Action::open);
  fake.scheduler.advance(0.05);
  EXPECT_EQ(fake.windowServer.placed.size(), 1u);
  EXPECT_EQ(fake.windowServer.trustRequests, 1);
  fake.windowServer.trusted = false;
  model->setMode(Mode::windows);
  model->setQuery("anything");
  ASSERT_EQ(ids(), Ids{"ax"});
  EXPECT_EQ(model->items().front().subtitle, fake.windowServer.unreachableReason());
  model->activate(Action::open);
  EXPECT_EQ(fake.windowServer.trustRequests, 2);
  EXPECT_EQ(hides, 3) << "the request row keeps the panel open";
}

TEST_F(SearchModelTest, BlankQueriesListRecentsRebuiltFromLearnedIds) {
  for (const char* id : {"app:/apps/mail.desktop", "layout:Zentrieren", "layout:Zentrieren",
                         "cmd:Neustart", "win:5:Posteingang", "clip:0", "app:/gone.desktop"}) {
    model->learning().record(id, "x");
  }
  for (const char* blank : {"", "\u3000\t"}) {  // the second as an input method types it
    model->setQuery("x");
    model->setQuery(blank);
    EXPECT_EQ(ids(), (Ids{"layout:Zentrieren", "app:/apps/mail.desktop", "cmd:Neustart"}));
  }
  EXPECT_EQ(model->items()[0].title, "Fenster: Zentrieren");
  EXPECT_TRUE(model->items()[2].needsConfirm);
}

// A copy a password manager marked reaches no file, nor does what is typed (the model's own
// copies stay out of the history), and the core writes no log. Learned pick keys (the first
// twelve characters of an activated query) go to the defaults store alone, which the backend
// keeps.
TEST_F(SearchModelTest, SecretsReachNoFile) {
  const std::string copied = "s3cret-Passw0rt", typed = "geheim-4711";
  copy(copied, {"text/plain", "org.nspasteboard.ConcealedType"});
  copy("harmlos");
  for (const Mode mode : {Mode::all, Mode::files, Mode::clipboard, Mode::windows}) {
    model->setMode(mode);
    model->setQuery(typed);
    model->activate(SearchModel::Action::copy);
    model->activate(SearchModel::Action::open);
    fake.scheduler.advance(1);
    model->setQuery("");
  }
  EXPECT_EQ(fake.pasteboard.text(), typed) << "the web row of mode all copied it";
  EXPECT_TRUE(anyFileHolds(fake.paths.folder(), "harmlos"));
  EXPECT_FALSE(anyFileHolds(fake.paths.folder(), copied));
  EXPECT_FALSE(anyFileHolds(fake.paths.folder(), typed));
  EXPECT_FALSE(std::filesystem::exists(fake.paths.logFile()));
}

}  // namespace
}  // namespace varek
