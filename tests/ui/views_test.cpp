// The panel's views, rendered on the test desktop: screenshots of the card in its main
// states are saved to VAREK_SCREENSHOTS and checked by measurable properties (size, where
// the hairlines and highlights lie, the colours at chosen points), never pixel by pixel.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <cmath>

#include "search/search_model.h"
#include "sources/commands.h"
#include "sources/windows.h"
#include "tests/support/fake_platform.h"
#include "ui/glut.h"
#include "ui/icon_cache.h"
#include "ui/key.h"
#include "ui/root_view.h"
#include "ui/row.h"
#include "ui/search_field.h"

namespace varek {
namespace {

using Mode = SearchModel::Mode;
using Field = SearchModel::Field;

// The card's fixed geometry, in points from its top-left corner.
constexpr int kHeaderHairline = 62;
constexpr int kFooterHairline = 470 - 38 - 1;
constexpr int kListTop = kHeaderHairline + 1;
constexpr int kFirstRowTop = kListTop + 8;
constexpr int kFooterCentre = 470 - 38 / 2;
// A column of the list where rows draw nothing but their highlight.
constexpr int kEmptyColumn = 600;
// The accent bar is 3 points wide, 1 point in from the row's leading edge at 8.
constexpr int kAccentColumn = 8 + 1 + 1;
// Text at 28 % white and more stands out this far above the dark card (0–255).
constexpr int kInkBrightness = 70;

const QColor kConfirmationRed = QColor::fromRgbF(1.0f, 0.42f, 0.36f);

ScannedApp app(std::string name, std::string path) {
  return {.name = std::move(name), .alternateName = "", .path = std::move(path), .url = {}};
}

int distance(const QColor& a, const QColor& b) {
  return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                   std::abs(a.blue() - b.blue())});
}

int brightness(const QColor& color) { return (color.red() + color.green() + color.blue()) / 3; }

struct Screenshot {
  QImage image;
  qreal scale;

  QColor at(int x, int y) const {
    return image.pixelColor(static_cast<int>(x * scale), static_cast<int>(y * scale));
  }
  // Whether any pixel of the rectangle (in points) lies within `tolerance` of `color`.
  bool contains(const QRect& area, const QColor& color, int tolerance) const {
    for (int y = area.top(); y <= area.bottom(); ++y) {
      for (int x = area.left(); x <= area.right(); ++x) {
        if (distance(at(x, y), color) <= tolerance) return true;
      }
    }
    return false;
  }
  bool hasInk(const QRect& area) const {
    for (int y = area.top(); y <= area.bottom(); ++y) {
      for (int x = area.left(); x <= area.right(); ++x) {
        if (brightness(at(x, y)) > kInkBrightness) return true;
      }
    }
    return false;
  }
  // The lowest row of the rectangle with any text on it, or -1.
  int inkBottom(const QRect& area) const {
    for (int y = area.bottom(); y >= area.top(); --y) {
      if (hasInk(QRect(area.left(), y, area.width(), 1))) return y;
    }
    return -1;
  }
  // The first y from `top` down where the column turns lighter than at `top`: where a
  // highlight begins.
  int highlightStart(int x, int top, int bottom) const {
    for (int y = top; y <= bottom; ++y) {
      if (brightness(at(x, y)) > brightness(at(x, top)) + 10) return y;
    }
    return -1;
  }
};

struct ViewsTest : ::testing::Test {
  test::FakePlatform fake;
  std::shared_ptr<SearchModel> model;
  std::unique_ptr<RootView> view;
  int hides = 0;

  ViewsTest() {
    fake.appScanner.apps = {
        app("Safari", "/apps/safari.desktop"), app("Sandbox", "/apps/sandbox.desktop"),
        app("Satellit", "/apps/satellit.desktop"), app("Terminal", "/apps/terminal.desktop")};
    model = SearchModel::create(fake.platform());
    view = std::make_unique<RootView>(*model);
    model->setObserver([this](Field field) { view->modelChanged(field); });
    model->setHide([this] { ++hides; });
    model->search();
  }

  void copy(const std::vector<std::string>& texts) {
    for (const std::string& text : texts) {
      fake.pasteboard.copy(text);
      fake.scheduler.advance(0.5);
    }
  }

  Screenshot shoot(const QString& name) const {
    const QPixmap pixmap = view->grab();
    QDir().mkpath(QStringLiteral(VAREK_SCREENSHOTS));
    pixmap.save(QStringLiteral(VAREK_SCREENSHOTS "/") + name + QStringLiteral(".png"));
    return {pixmap.toImage(), pixmap.devicePixelRatio()};
  }

  // Clicks a point of the card on whichever child lies there.
  void click(QPoint point) {
    QWidget* target = view->childAt(point);
    if (target == nullptr) target = view.get();
    QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(view.get(), point));
  }
};

// Mode all with an empty query: the card, its hairlines, the tips, and no badge or hints.
TEST_F(ViewsTest, TipsCard) {
  const Screenshot shot = shoot(QStringLiteral("tips"));
  EXPECT_EQ(shot.image.size(), QSize(740, 470) * shot.scale);
  EXPECT_EQ(shot.at(0, 0).alpha(), 0) << "the corners outside the rounded card stay clear";
  EXPECT_EQ(shot.at(370, 235).alpha(), 255);
  for (const int hairline : {kHeaderHairline, kFooterHairline}) {
    EXPECT_GT(brightness(shot.at(370, hairline)), brightness(shot.at(370, hairline - 1)));
    EXPECT_GT(brightness(shot.at(370, hairline)), brightness(shot.at(370, hairline + 1)));
    EXPECT_GT(brightness(shot.at(370, hairline)), brightness(shot.at(30, hairline)))
        << "the hairline fades towards its ends";
  }
  EXPECT_TRUE(shot.contains(QRect(26, kListTop + 30, 190, 250), Glut::ember(), 40))
      << "the tips' keys are ember";
  EXPECT_FALSE(shot.hasInk(QRect(500, kFooterHairline + 2, 220, 34))) << "no key hints";
}

// Where the second row's highlight begins tells the first row's height: 46, or 58 for a
// calculator result; the accent bar is ember and the kind label glows on the selected row.
TEST_F(ViewsTest, SelectedRow) {
  struct Case {
    const char* name;
    const char* query;
    int firstRowHeight;
  };
  for (const Case& row : {Case{"results", "sa", 46}, Case{"calculator", "12*7+3", 58}}) {
    SCOPED_TRACE(row.name);
    model->setQuery(row.query);
    ASSERT_GE(model->items().size(), 2u);
    model->setSelection(1);
    const Screenshot shot = shoot(QString::fromLatin1(row.name));
    const int top = kFirstRowTop + row.firstRowHeight + 2;
    const int height = Row::height(model->items()[1].kind);
    EXPECT_EQ(shot.highlightStart(kEmptyColumn, kListTop, kFooterHairline - 1), top);
    EXPECT_LT(distance(shot.at(kAccentColumn, top + height / 2), Glut::ember()), 16);
    EXPECT_TRUE(shot.contains(QRect(650, top, 80, height), Glut::ember(), 40))
        << "the selected row's kind label";
    EXPECT_FALSE(shot.contains(QRect(650, kFirstRowTop, 80, row.firstRowHeight), Glut::ember(), 80))
        << "an unselected row's kind label stays white";
    EXPECT_TRUE(shot.hasInk(QRect(560, kFooterHairline + 2, 160, 34))) << "key hints";
  }
}

// The badge names the mode outside mode all; the clipboard mode lists the copied texts.
TEST_F(ViewsTest, ModeBadge) {
  const std::string longText(120, 'x');
  copy({"Hallo Welt", "https://example.org/ein/langer/pfad", "Zweite\nZeile", longText});
  struct Case {
    Mode mode;
    bool badge;
  };
  for (const Case& mode : {Case{Mode::files, true}, Case{Mode::windows, true},
                           Case{Mode::all, false}, Case{Mode::clipboard, true}}) {
    SCOPED_TRACE(static_cast<int>(mode.mode));
    model->setMode(mode.mode);
    const Screenshot shot = shoot(QStringLiteral("mode-%1").arg(static_cast<int>(mode.mode)));
    EXPECT_EQ(shot.contains(QRect(560, 16, 158, 30), Glut::ember(), 40), mode.badge);
  }
  ASSERT_EQ(model->items().size(), 4u);
  const Screenshot shot = shoot(QStringLiteral("clipboard"));
  EXPECT_EQ(shot.highlightStart(kEmptyColumn, kListTop, 200), kFirstRowTop);
  // A title too long for the row is cut before the kind label, 12 points clear of it.
  int kindLeft = 740;
  for (int x = 739; x > 400; --x) {
    if (shot.contains(QRect(x, kFirstRowTop, 1, 46), Glut::ember(), 40)) kindLeft = x;
  }
  ASSERT_LT(kindLeft, 740);
  EXPECT_TRUE(shot.hasInk(QRect(60, kFirstRowTop, kindLeft - 12 - 60, 46)));
  EXPECT_FALSE(shot.hasInk(QRect(kindLeft - 10, kFirstRowTop, 8, 46)));
}

// An empty list says why: "Nichts gefunden" for any query, else a hint for the mode, else
// the tips. Their texts differ in length, so where the ink ends tells them apart.
TEST_F(ViewsTest, EmptyStates) {
  struct Case {
    const char* shows;
    Mode mode;
    const char* query;
  };
  // From the shortest text to the longest.
  const Case cases[] = {{"Nichts gefunden", Mode::windows, "zzz"},
                        {"Nichts gefunden", Mode::files, "zzz"},
                        {"Nichts gefunden", Mode::clipboard, "zzz"},
                        {"Keine Fenster", Mode::windows, ""},
                        {"Dateien suchen", Mode::files, ""},
                        {"Noch nichts kopiert", Mode::clipboard, ""},
                        {"Tricks", Mode::all, ""}};
  int previousBottom = kListTop;
  std::string previous;
  for (const Case& state : cases) {
    SCOPED_TRACE(state.shows);
    model->setMode(state.mode);
    model->setQuery(state.query);
    ASSERT_TRUE(model->items().empty());
    const int bottom = shoot(QStringLiteral("empty")).inkBottom(QRect(26, kListTop, 680, 367));
    if (previous == state.shows) {
      EXPECT_EQ(bottom, previousBottom);
    } else {
      EXPECT_GT(bottom, previousBottom);
    }
    previous = state.shows;
    previousBottom = bottom;
  }
}

// After the first Return a row that needs confirmation asks for the second one in red.
TEST_F(ViewsTest, ConfirmationPrompt) {
  model->setQuery("neustart");
  model->activate(SearchModel::Action::open);
  ASSERT_TRUE(model->confirmID().has_value());
  const Screenshot shot = shoot(QStringLiteral("confirmation"));
  EXPECT_TRUE(shot.contains(QRect(60, kFirstRowTop, 560, 46), kConfirmationRed, 24));
  EXPECT_FALSE(shot.contains(QRect(60, kFirstRowTop + 48, 560, 46), kConfirmationRed, 24));
  EXPECT_EQ(hides, 0);
}

// Moving the selection out of view scrolls just far enough to show the row whole.
TEST_F(ViewsTest, SelectionScrollsIntoView) {
  std::vector<std::string> texts;
  for (int index = 0; index < 20; ++index) texts.push_back("Eintrag " + std::to_string(index));
  copy(texts);
  model->setMode(Mode::clipboard);
  struct Case {
    int selection;
    int highlightTop;
  };
  // 368 points of list; row 15 ends at 8 + 16 × 48 − 2 = 774 in the content. Scrolling up
  // stops where the row's own top shows, over the list's padding.
  for (const Case& step : {Case{15, kListTop + 368 - 46}, Case{14, kListTop + 368 - 46 - 48},
                           Case{2, kListTop}, Case{0, kListTop}}) {
    SCOPED_TRACE(step.selection);
    model->setSelection(step.selection);
    EXPECT_EQ(shoot(QStringLiteral("scrolled"))
                  .highlightStart(kEmptyColumn, kListTop - 1, kFooterHairline - 1),
              step.highlightTop);
  }
}

// The field writes every edit into the query and shows a query set elsewhere; the
// placeholder follows the mode.
TEST_F(ViewsTest, SearchFieldBinding) {
  SearchField& field = view->field();
  EXPECT_EQ(field.objectName(), QStringLiteral("varek.search"));
  QTest::keyClicks(&field, QStringLiteral("saf"));
  EXPECT_EQ(model->query(), "saf");
  model->setQuery("12*7");
  EXPECT_EQ(field.text(), QStringLiteral("12*7"));
  EXPECT_EQ(field.cursorPosition(), 4);
  model->reset();
  EXPECT_TRUE(field.text().isEmpty());
  const std::pair<Mode, QString> placeholders[] = {
      {Mode::files, QStringLiteral("Dateien suchen …")},
      {Mode::clipboard, QStringLiteral("Zwischenablage durchsuchen …")},
      {Mode::windows, QStringLiteral("Fenster finden …")},
      {Mode::all, QStringLiteral("Starten, suchen, rechnen …")}};
  for (const auto& [mode, placeholder] : placeholders) {
    model->setMode(mode);
    EXPECT_EQ(field.placeholderText(), placeholder);
  }
}

// One click on a row selects it and runs it; a click on a tab switches the mode.
TEST_F(ViewsTest, Clicks) {
  model->setQuery("sa");
  ASSERT_GE(model->items().size(), 2u);
  const std::string path = *model->items()[1].path;
  click(QPoint(300, kFirstRowTop + 46 + 2 + 23));
  EXPECT_EQ(model->selection(), 1);
  EXPECT_EQ(fake.workspace.openedApps, std::vector<std::string>{path});
  EXPECT_EQ(hides, 1);

  // The tabs are the first runs of ink in the footer, left to right.
  const Screenshot shot = shoot(QStringLiteral("footer"));
  std::vector<int> tabCentres;
  int runStart = -1, gap = 0;
  for (int x = 18; x < 500 && tabCentres.size() < 4; ++x) {
    const bool ink = shot.hasInk(QRect(x, kFooterCentre - 6, 1, 12));
    if (ink && runStart < 0) runStart = x;
    gap = ink ? 0 : gap + 1;
    if (runStart >= 0 && gap > 8) {
      tabCentres.push_back((runStart + x - gap) / 2);
      runStart = -1;
    }
  }
  ASSERT_EQ(tabCentres.size(), 4u);
  for (const Mode mode : {Mode::windows, Mode::files, Mode::clipboard, Mode::all}) {
    click(QPoint(tabCentres[static_cast<int>(mode) - 1], kFooterCentre));
    EXPECT_EQ(model->mode(), mode);
  }
}

// The footer's hints follow the selected row's actions.
TEST(Views, KeyHintsFollowTheRow) {
  const auto row = [](Item::Kind kind, std::optional<std::string> path, bool needsConfirm = false,
                      std::string title = "Titel") {
    return Item{.id = "id",
                .title = std::move(title),
                .subtitle = "",
                .kind = kind,
                .icon = {Item::Icon::Text{"="}},
                .score = 0,
                .path = std::move(path),
                .copyText = std::nullopt,
                .needsConfirm = needsConfirm,
                .keepsOpen = false,
                .run = [] {}};
  };
  const Key reveal{QStringLiteral("⌘⏎"), QStringLiteral("Im Finder")};
  const Key copy{QStringLiteral("⌥⏎"), QStringLiteral("Kopieren")};
  const auto enter = [](const char* label) { return Key{QStringLiteral("⏎"), QString(label)}; };
  const std::pair<Item, std::vector<Key>> cases[] = {
      {row(Item::Kind::calc, std::nullopt), {enter("Kopieren")}},
      {row(Item::Kind::app, "/apps/safari.desktop"), {reveal, copy, enter("Öffnen")}},
      {row(Item::Kind::clipboard, std::nullopt), {copy, enter("Einfügen")}},
      {row(Item::Kind::command, std::nullopt, true), {copy, enter("Ausführen …")}},
      {row(Item::Kind::command, std::nullopt), {copy, enter("Ausführen")}},
      {row(Item::Kind::window, std::nullopt, false, "Fenster: Linke Hälfte"),
       {copy, enter("Anordnen")}},
      {row(Item::Kind::window, std::nullopt, false, "Fenster ohne Doppelpunkt"),
       {copy, enter("Zeigen")}},
      {row(Item::Kind::dictionary, std::nullopt), {copy, enter("Öffnen")}},
  };
  for (const auto& [item, hints] : cases) {
    EXPECT_EQ(keyHints(item), hints) << item.title << " " << label(item.kind);
  }
}

// Every symbol the rows use, and one no table knows, comes as a coloured tile with a white
// glyph on it, whether or not the desktop has an icon theme.
TEST(IconCache, SymbolsAreNeverEmpty) {
  std::vector<std::string> names = {"macwindow",
                                    "terminal.fill",
                                    "globe",
                                    "character.book.closed.fill",
                                    "xmark",
                                    "safari.fill",
                                    "magnifyingglass",
                                    "doc.on.doc.fill",
                                    "doc.on.clipboard.fill",
                                    "hand.raised.fill",
                                    "no.such.symbol"};
  for (const Commands::Command& command : Commands::all()) names.push_back(command.symbol);
  for (const Windows::Layout layout : Windows::allLayouts()) {
    names.emplace_back(Windows::symbol(layout));
  }
  QImage gallery(28 * static_cast<int>(names.size()), 28, QImage::Format_ARGB32_Premultiplied);
  gallery.fill(QColor(22, 21, 23));
  QPainter painter(&gallery);
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const QImage image =
        IconCache::shared().icon({Item::Icon::Symbol{name, SystemColor::blue}}, 28, 1).toImage();
    painter.drawImage(28 * static_cast<int>(&name - names.data()), 0, image);
    ASSERT_EQ(image.size(), QSize(28, 28));
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0) << "the tile is inset within its square";
    EXPECT_LT(distance(image.pixelColor(4, 4), systemColor(SystemColor::blue)), 40);
    int glyphPixels = 0;
    for (int y = 7; y < 21; ++y) {
      for (int x = 7; x < 21; ++x) glyphPixels += brightness(image.pixelColor(x, y)) > 200;
    }
    EXPECT_GE(glyphPixels, 10);
  }
  QDir().mkpath(QStringLiteral(VAREK_SCREENSHOTS));
  gallery.save(QStringLiteral(VAREK_SCREENSHOTS "/symbols.png"));
}

// The cache keeps at most kLimit icons and lets the least recently used one go.
TEST(IconCache, PurgesTheLeastRecentlyUsed) {
  IconCache& cache = IconCache::shared();
  const auto file = [](int index) {
    return Item::Icon{Item::Icon::File{"/varek/test/datei-" + std::to_string(index) + ".txt"}};
  };
  std::vector<qint64> keys;
  for (int index = 0; index < static_cast<int>(IconCache::kLimit); ++index) {
    keys.push_back(cache.icon(file(index), 28, 1).cacheKey());
  }
  EXPECT_EQ(cache.size(), IconCache::kLimit);
  EXPECT_EQ(cache.icon(file(0), 28, 1).cacheKey(), keys[0]) << "a hit is the same picture";
  EXPECT_FALSE(cache.icon(file(-1), 28, 1).isNull());
  EXPECT_EQ(cache.size(), IconCache::kLimit);
  EXPECT_EQ(cache.icon(file(0), 28, 1).cacheKey(), keys[0]) << "just used, so kept";
  EXPECT_NE(cache.icon(file(1), 28, 1).cacheKey(), keys[1]) << "the oldest was purged";
}

}  // namespace
}  // namespace varek
