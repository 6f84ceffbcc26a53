// The panel's views, rendered on the test desktop: screenshots of the card in its main
// states are saved to VAREK_SCREENSHOTS and checked by measurable properties (where the
// highlights and the ink lie, the colours in chosen areas), never pixel by pixel.
#include <gtest/gtest.h>

#include <QDir>
#include <QPaintEngine>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

#include "search/search_model.h"
#include "sources/commands.h"
#include "sources/windows.h"
#include "tests/support/event_count.h"
#include "tests/support/fake_platform.h"
#include "tests/support/files.h"
#include "ui/card_picture.h"
#include "ui/glut.h"
#include "ui/icon_cache.h"
#include "ui/key.h"
#include "ui/root_view.h"
#include "ui/search_field.h"

namespace varek {
namespace {

using Mode = SearchModel::Mode;

// The card's fixed geometry, in points from its top-left corner: a 62-point header over a
// hairline, the list, a hairline over the 38-point footer.
constexpr int kListTop = 62 + 1;
constexpr int kListBottom = 470 - 38 - 1;
constexpr int kFirstRowTop = kListTop + 8;
constexpr int kFooterCentre = 470 - 38 / 2;
// A column of the list where rows draw nothing but their highlight.
constexpr int kEmptyColumn = 600;
// Text at 28 % white and more stands out this far above the dark card (0–255).
constexpr int kInkBrightness = 70;

int brightness(const QColor& color) { return (color.red() + color.green() + color.blue()) / 3; }

bool near(const QColor& a, const QColor& b, int tolerance) {
  return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                   std::abs(a.blue() - b.blue())}) <= tolerance;
}
bool ink(const QColor& pixel) { return brightness(pixel) > kInkBrightness; }
bool ember(const QColor& pixel) { return near(pixel, Glut::ember(), 40); }
bool white(const QColor& pixel) { return brightness(pixel) > 200; }

struct Screenshot {
  QImage image;
  qreal scale;

  QColor at(int x, int y) const {
    return image.pixelColor(static_cast<int>(x * scale), static_cast<int>(y * scale));
  }
  // How many pixels of the rectangle (in points) pass `test`.
  int count(const QRect& area, const std::function<bool(const QColor&)>& test) const {
    int passing = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
      for (int x = area.left(); x <= area.right(); ++x) passing += test(at(x, y));
    }
    return passing;
  }
  bool any(const QRect& area, const std::function<bool(const QColor&)>& test) const {
    return count(area, test) > 0;
  }
  // The lowest row of the rectangle with any text on it, or top - 1.
  int inkBottom(const QRect& area) const {
    int y = area.bottom();
    while (y >= area.top() && !any(QRect(area.left(), y, area.width(), 1), ink)) --y;
    return y;
  }
  // The first y of the list from `top` down that is lighter than at `top`: where a
  // highlight begins.
  int highlightStart(int top) const {
    const int background = brightness(at(kEmptyColumn, top));
    int y = top;
    while (y < kListBottom && brightness(at(kEmptyColumn, y)) <= background + 10) ++y;
    return y;
  }
};

struct ViewsTest : ::testing::Test {
  test::FakePlatform fake;
  std::shared_ptr<SearchModel> model;
  std::unique_ptr<RootView> view;
  int hides = 0;

  ViewsTest() {
    for (const std::string name : {"Safari", "Sandbox", "Satellit", "Terminal"}) {
      fake.appScanner.apps.push_back(
          {.name = name, .alternateName = "", .path = "/apps/" + name + ".desktop", .url = {}});
    }
    model = SearchModel::create(fake.platform());
    view = std::make_unique<RootView>(*model);
    model->setObserver([this](SearchModel::Field field) { view->modelChanged(field); });
    model->setHide([this] { ++hides; });
    model->search();
  }

  void copy(const std::vector<std::string>& texts) {
    for (const std::string& text : texts) {
      fake.pasteboard.copy(text);
      fake.scheduler.advance(0.5);
    }
  }

  // Saved for a person to look at as well.
  Screenshot shoot(const QString& name) const {
    const QPixmap pixmap = view->grab();
    QDir().mkpath(QStringLiteral(VAREK_SCREENSHOTS));
    pixmap.save(QStringLiteral(VAREK_SCREENSHOTS "/%1.png").arg(name));
    return {pixmap.toImage(), pixmap.devicePixelRatio()};
  }

  // Clicks a point of the card on whichever child lies there.
  void click(QPoint point) {
    QWidget* target = view->childAt(point);
    if (target == nullptr) target = view.get();
    QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(view.get(), point));
  }
};

// An empty list says why: "Nichts gefunden" for any query, else a hint for the mode, else
// the tips. Their texts differ in length, so where the ink ends tells them apart. The badge
// names the mode outside mode all; without a row there are no key hints.
TEST_F(ViewsTest, EmptyStates) {
  // From the shortest text to the longest.
  const std::tuple<const char*, Mode, const char*> cases[] = {
      {"Nichts gefunden", Mode::windows, "zzz"},
      {"Keine Fenster", Mode::windows, ""},
      {"Dateien suchen", Mode::files, ""},
      {"Noch nichts kopiert", Mode::clipboard, ""},
      {"Tricks", Mode::all, ""}};
  int previousBottom = kListTop;
  for (const auto& [shows, mode, query] : cases) {
    SCOPED_TRACE(shows);
    model->setMode(mode);
    model->setQuery(query);
    ASSERT_TRUE(model->items().empty());
    const Screenshot shot = shoot(QStringLiteral("empty-%1").arg(static_cast<int>(mode)));
    const int bottom = shot.inkBottom(QRect(26, kListTop, 680, 367));
    EXPECT_GT(bottom, previousBottom);
    previousBottom = bottom;
    EXPECT_EQ(shot.any(QRect(560, 16, 158, 30), ember), mode != Mode::all);
    EXPECT_FALSE(shot.any(QRect(500, kListBottom + 2, 220, 34), ink)) << "no key hints";
  }
  // The clipboard's hint says what Return does there: paste, or only copy.
  model->setMode(Mode::clipboard);
  const QImage pastes = shoot(QStringLiteral("empty-pastes")).image;
  fake.windowServer.pasting = false;
  EXPECT_NE(shoot(QStringLiteral("empty-copies")).image, pastes);
}

// Where the second row's highlight begins tells the first row's height: 46, or 58 for a
// calculator result; the selected row's key hints fill the footer.
TEST_F(ViewsTest, SelectedRow) {
  for (const auto& [query, firstRowHeight] : {std::pair{"sa", 46}, std::pair{"12*7+3", 58}}) {
    SCOPED_TRACE(query);
    model->setQuery(query);
    ASSERT_GE(model->items().size(), 2u);
    model->setSelection(1);
    const Screenshot shot = shoot(QStringLiteral("selected-%1").arg(firstRowHeight));
    EXPECT_EQ(shot.highlightStart(kListTop), kFirstRowTop + firstRowHeight + 2);
    EXPECT_TRUE(shot.any(QRect(560, kListBottom + 2, 160, 34), ink)) << "key hints";
  }
}

// A title too long for the row is cut before the kind label, 12 points clear of it.
TEST_F(ViewsTest, LongTitleStopsBeforeTheKindLabel) {
  copy({"Zweite\nZeile", std::string(120, 'x')});
  model->setMode(Mode::clipboard);
  const Screenshot shot = shoot(QStringLiteral("clipboard"));
  EXPECT_EQ(shot.highlightStart(kListTop), kFirstRowTop);
  int kindLeft = 740;
  for (int x = 739; x > 400; --x) {
    if (shot.any(QRect(x, kFirstRowTop, 1, 46), ember)) kindLeft = x;
  }
  ASSERT_LT(kindLeft, 740);
  EXPECT_TRUE(shot.any(QRect(60, kFirstRowTop, kindLeft - 12 - 60, 46), ink));
  EXPECT_FALSE(shot.any(QRect(kindLeft - 10, kFirstRowTop, 8, 46), ink));
}

// After the first Return a row that needs confirmation asks for the second one in red.
TEST_F(ViewsTest, ConfirmationPrompt) {
  model->setQuery("neustart");
  model->activate(SearchModel::Action::open);
  ASSERT_TRUE(model->confirmID().has_value());
  const Screenshot shot = shoot(QStringLiteral("confirmation"));
  const auto red = [](const QColor& pixel) {
    return near(pixel, QColor::fromRgbF(1.0f, 0.42f, 0.36f), 24);
  };
  EXPECT_TRUE(shot.any(QRect(60, kFirstRowTop, 560, 46), red));
  EXPECT_FALSE(shot.any(QRect(60, kFirstRowTop + 48, 560, 46), red));
}

// Keeps the text a widget paints, as the painter receives it, and draws nothing; an image
// only for its measures.
class TextRecorder : public QImage, QPaintEngine {
 public:
  TextRecorder() : QImage(RootView::kWidth, RootView::kHeight, QImage::Format_ARGB32) {}
  QSet<QString> texts;

  QPaintEngine* paintEngine() const override { return const_cast<TextRecorder*>(this); }
  bool begin(QPaintDevice*) override { return true; }
  bool end() override { return true; }
  void updateState(const QPaintEngineState&) override {}
  void drawPath(const QPainterPath&) override {}
  void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
  void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
  void drawTextItem(const QPointF&, const QTextItem& item) override { texts.insert(item.text()); }
  Type type() const override { return QPaintEngine::User; }
};

// No macOS key glyph or product name reaches the screen: every text the card paints, in
// each mode, with each row selected in turn (its key hints), with and without windows in
// reach. (The tray menu's items are compared whole in the shell's test.)
TEST_F(ViewsTest, ShowsNoMacWords) {
  fake.appScanner.settings = {
      {.name = "Netzwerk", .alternateName = "", .path = "/settings/network.desktop", .url = {}}};
  model->apps().fill();
  copy({"/home/ich/notiz.txt", "zwei\nZeilen"});
  model->setShowSettings([] {});
  QSet<QString> shown;
  const auto record = [&] {
    TextRecorder recorder;
    view->render(&recorder);
    shown += recorder.texts;
    for (const Item& item : model->items()) {
      shown << QString::fromStdString(item.title) << QString::fromStdString(item.subtitle);
    }
  };
  const std::pair<Mode, const char*> screens[] = {
      {Mode::all, ""},      {Mode::all, "sa"},       {Mode::all, "12*7+3"},
      {Mode::all, "links"}, {Mode::all, "netzwerk"}, {Mode::all, "einstellungen"},
      {Mode::all, "zzz"},   {Mode::files, ""},       {Mode::clipboard, ""},
      {Mode::windows, ""},  {Mode::windows, "x"}};
  for (const bool trusted : {true, false}) {
    fake.windowServer.trusted = trusted;
    for (const auto& [mode, query] : screens) {
      model->setMode(mode);
      model->setQuery(query);
      record();
      for (int row = 1; row < static_cast<int>(model->items().size()); ++row) {
        model->setSelection(row);
        record();
      }
    }
  }
  model->setMode(Mode::all);
  model->setQuery("neustart");
  model->activate(SearchModel::Action::open);
  record();  // the confirmation prompt

  ASSERT_TRUE(shown.contains(QStringLiteral("Strg+1"))) << "the tabs were read";
  const QRegularExpression mac(
      QStringLiteral("⌘|⌥|⌃|Finder|Spotlight|macOS|Systemeinstellungen|Bedienungshilfen"));
  for (const QString& text : shown) EXPECT_FALSE(mac.match(text).hasMatch()) << text.toStdString();
}

// Moving the selection out of view scrolls just far enough to show the row whole.
TEST_F(ViewsTest, SelectionScrollsIntoView) {
  std::vector<std::string> texts;
  for (int index = 0; index < 20; ++index) texts.push_back("Eintrag " + std::to_string(index));
  copy(texts);
  model->setMode(Mode::clipboard);
  // 368 points of list; row 15 ends at 8 + 16 × 48 − 2 = 774 in the content. Scrolling up
  // stops where the row's own top shows, over the list's padding.
  for (const auto& [selection, highlightTop] :
       {std::pair{15, kListTop + 368 - 46}, std::pair{14, kListTop + 368 - 46 - 48},
        std::pair{2, kListTop}, std::pair{0, kListTop}}) {
    SCOPED_TRACE(selection);
    model->setSelection(selection);
    EXPECT_EQ(shoot(QStringLiteral("scrolled")).highlightStart(kListTop - 1), highlightTop);
  }
}

// Typing repaints only the rows that changed (and the footer when its hints do), and of a
// row that keeps its kind and plate only as far as its texts reach: after each step, what
// the X server shows below the header is what a whole repaint draws.
TEST_F(ViewsTest, TypingLeavesNoStaleRow) {
  view->setAttribute(Qt::WA_TranslucentBackground);  // as in the panel's window
  view->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
  QRegion painted;
  test::EventCount listPaints([&](const QEvent& event) {
    if (event.type() == QEvent::Paint) painted += static_cast<const QPaintEvent&>(event).region();
    return false;
  });
  view->list().installEventFilter(&listPaints);
  const QRect belowHeader(0, kListTop, RootView::kWidth, RootView::kHeight - kListTop);
  const std::function<void()> steps[] = {
      [&] { model->setQuery("s"); },   [&] { model->setQuery("sa"); },
      [&] { model->setSelection(2); }, [&] { model->setQuery("sat"); },
      [&] { model->setQuery("sa"); },  [&] { model->setQuery("xq"); },
      [&] { model->setQuery("te"); },  [&] { model->setQuery(""); }};
  for (std::size_t step = 0; step < std::size(steps); ++step) {
    SCOPED_TRACE(step);
    painted = QRegion();
    steps[step]();
    QTest::qWait(50);
    if (step == 1) {
      // From "s" to "sa" the fourth row, a system command, changes its title.
      const int middle = 8 + 3 * 48 + 46 / 2;
      EXPECT_TRUE(painted.contains(QPoint(60, middle)));
      EXPECT_FALSE(painted.contains(QPoint(kEmptyColumn, middle)));
    }
    const QImage onScreen = view->screen()->grabWindow(view->winId()).toImage();
    const QImage whole = view->grab().toImage();
    const qreal scale = view->devicePixelRatioF();
    const QRect pixels(belowHeader.topLeft() * scale, belowHeader.size() * scale);
    EXPECT_TRUE(onScreen.copy(pixels).convertToFormat(QImage::Format_RGB32) ==
                whole.copy(pixels).convertToFormat(QImage::Format_RGB32));
  }
}

// The field shows a query set elsewhere, with the caret at its end; the placeholder follows
// the mode. (Typing into the field is the panel controller's test.)
TEST_F(ViewsTest, SearchFieldBinding) {
  SearchField& field = view->field();
  model->setQuery("12*7");
  EXPECT_EQ(field.text(), QStringLiteral("12*7"));
  EXPECT_EQ(field.cursorPosition(), 4);
  model->reset();
  EXPECT_TRUE(field.text().isEmpty());
  model->setMode(Mode::files);
  EXPECT_EQ(field.placeholderText(), QStringLiteral("Dateien suchen …"));
}

// One click on a row selects it and runs it; a click on a tab switches the mode.
TEST_F(ViewsTest, Clicks) {
  // Clicks along the footer reach the tabs one after another, in the order of the modes.
  std::vector<Mode> reached{model->mode()};
  for (int x = 18; x < 500; x += 4) {
    click(QPoint(x, kFooterCentre));
    if (reached.back() != model->mode()) reached.push_back(model->mode());
  }
  EXPECT_EQ(reached, (std::vector{Mode::all, Mode::files, Mode::clipboard, Mode::windows}));

  model->setMode(Mode::all);
  model->setQuery("sa");
  ASSERT_GE(model->items().size(), 2u);
  const std::string path = *model->items()[1].path;
  click(QPoint(300, kFirstRowTop + 46 + 2 + 23));
  EXPECT_EQ(model->selection(), 1);
  EXPECT_EQ(fake.workspace.openedApps, std::vector<std::string>{path});
  EXPECT_EQ(hides, 1);
}

// The card kept as a colour and pieces paints, in any area, exactly the picture it was
// made from, and nothing outside the area.
TEST(Views, CardPictureRepaintsAreasExactly) {
  for (const qreal ratio : {1.0, 2.0}) {
    QImage whole(QSize(200, 120) * ratio, QImage::Format_ARGB32_Premultiplied);
    whole.setDevicePixelRatio(ratio);
    whole.fill(Qt::transparent);
    {
      QPainter painter(&whole);
      painter.setRenderHint(QPainter::Antialiasing);
      QPainterPath card;
      card.addRoundedRect(QRectF(0, 0, 200, 120), 12, 12);
      painter.fillPath(card, QColor(20, 18, 16, 230));
      QRadialGradient glow(QPointF(0, 0), 70);
      glow.setStops({{0.0, QColor(255, 120, 40, 60)}, {1.0, QColor(255, 120, 40, 0)}});
      painter.fillPath(card, glow);
      painter.fillRect(QRectF(0, 30, 200, 1), QColor(255, 255, 255, 40));
    }
    const CardPicture picture(whole, QPoint(150, 80),
                              {{0, 0, 200, 2}, {0, 118, 200, 2}, {0, 0, 2, 120}, {198, 0, 2, 120},
                               {0, 0, 14, 14}, {186, 0, 14, 14}, {0, 106, 14, 14},
                               {186, 106, 14, 14}, {0, 30, 200, 1}});
    EXPECT_LT(picture.bytes(), whole.sizeInBytes() / 2) << ratio;
    for (const QRect area : {QRect(0, 0, 200, 120), QRect(0, 25, 200, 60), QRect(60, 5, 30, 30),
                             QRect(170, 90, 30, 30)}) {
      QImage painted(whole.size(), whole.format());
      painted.setDevicePixelRatio(ratio);
      painted.fill(Qt::magenta);
      {
        QPainter painter(&painted);
        picture.paint(painter, area);
      }
      const QRect pixels(area.topLeft() * ratio, area.size() * ratio);
      for (int y = 0; y < whole.height(); ++y) {
        for (int x = 0; x < whole.width(); ++x) {
          const QRgb expected = pixels.contains(x, y) ? whole.pixel(x, y) : QColor(Qt::magenta).rgba();
          ASSERT_EQ(painted.pixel(x, y), expected) << ratio << " at " << x << "," << y;
        }
      }
    }
  }
}

// The footer's hints follow the selected row's actions: reveal only with a path, copy
// except for a calculator result (whose Return copies), and what Return does.
TEST(Views, KeyHintsFollowTheRow) {
  const Key reveal{QStringLiteral("Strg+Eingabe"), QStringLiteral("Im Dateimanager zeigen")};
  const Key copy{QStringLiteral("Alt+Eingabe"), QStringLiteral("Kopieren")};
  const auto enter = [](const char* label) {
    return Key{QStringLiteral("Eingabe"), QString(label)};
  };
  const std::tuple<Item::Kind, const char*, bool, std::vector<Key>> cases[] = {
      {Item::Kind::calc, "87", false, {enter("Kopieren")}},
      {Item::Kind::app, "Safari", false, {reveal, copy, enter("Öffnen")}},
      {Item::Kind::clipboard, "Hallo", false, {copy, enter("Einfügen")}},
      {Item::Kind::clipboard, "Hallo", true, {enter("Kopieren")}},
      {Item::Kind::command, "Neustart", true, {copy, enter("Ausführen …")}},
      {Item::Kind::command, "Sperren", false, {copy, enter("Ausführen")}},
      {Item::Kind::window, "Fenster: Linke Hälfte", false, {copy, enter("Anordnen")}},
      {Item::Kind::window, "Fenster ohne Doppelpunkt", false, {copy, enter("Zeigen")}},
      {Item::Kind::dictionary, "Haus", false, {copy, enter("Öffnen")}},
  };
  for (const auto& [kind, title, flag, hints] : cases) {
    Item item{};
    item.kind = kind;
    item.title = title;
    // The flag is needsConfirm, except on a clipboard row, where it means no paste.
    const bool clipboard = kind == Item::Kind::clipboard;
    item.needsConfirm = flag && !clipboard;
    // Only the application has a file to reveal.
    if (kind == Item::Kind::app) item.path = "/apps/safari.desktop";
    EXPECT_EQ(keyHints(item, !(clipboard && flag)), hints) << title;
  }
}

// Every symbol the rows use, and one no table knows, comes as a coloured tile with a white
// glyph on it, whether or not the desktop has an icon theme.
TEST(IconCache, SymbolsAreNeverEmpty) {
  // clang-format off
  std::vector<std::string> names = {"macwindow", "terminal.fill", "globe", "xmark", "safari.fill",
      "magnifyingglass", "doc.on.doc.fill", "doc.on.clipboard.fill", "hand.raised.fill",
      "info.circle.fill", "character.book.closed.fill", "no.such.symbol"};
  // clang-format on
  for (const Commands::Command& command : Commands::all()) names.push_back(command.symbol);
  for (const Windows::Layout layout : Windows::allLayouts()) names.emplace_back(symbol(layout));
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const Item::Icon symbol{Item::Icon::Symbol{name, SystemColor::blue}};
    const Screenshot tile{IconCache::shared().icon(symbol, 28, 1).toImage(), 1};
    ASSERT_EQ(tile.image.size(), QSize(28, 28));
    EXPECT_TRUE(near(tile.at(4, 4), systemColor(SystemColor::blue), 40));
    EXPECT_GE(tile.count(QRect(7, 7, 14, 14), white), 10) << "the glyph";
  }
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
  EXPECT_EQ(cache.icon(file(0), 28, 1).cacheKey(), keys[0]) << "a hit is the same picture";
  EXPECT_FALSE(cache.icon(file(-1), 28, 1).isNull());
  EXPECT_EQ(cache.size(), IconCache::kLimit);
  EXPECT_EQ(cache.icon(file(0), 28, 1).cacheKey(), keys[0]) << "just used, so kept";
  EXPECT_NE(cache.icon(file(1), 28, 1).cacheKey(), keys[1]) << "the oldest was purged";
}

// Desktop entries that name the same icon share its picture, drawn once per size.
TEST(IconCache, DrawsANamedIconOncePerSize) {
  const QTemporaryDir folder;
  const auto entry = [&](const std::string& name, int size) {
    const std::string path = folder.path().toStdString() + "/" + name + ".desktop";
    test::writeFile(path, "[Desktop Entry]\nName=" + name + "\nIcon=varek-test-icon\n");
    return IconCache::shared().icon({Item::Icon::File{path}}, size, 1);
  };
  EXPECT_EQ(entry("eins", 28).cacheKey(), entry("zwei", 28).cacheKey());
  EXPECT_EQ(entry("drei", 40).size(), QSize(40, 40));

  // Without any icon theme an application shows a window and a file a page, drawn here.
  const QStringList paths = QIcon::themeSearchPaths();
  const QString theme = QIcon::themeName();
  QIcon::setThemeSearchPaths({folder.path()});
  QIcon::setThemeName(QStringLiteral("varek-none"));
  const auto drawn = [&](const std::string& name) {
    return Screenshot{IconCache::shared()
                          .icon({Item::Icon::File{folder.path().toStdString() + name}}, 28, 1)
                          .toImage(),
                      1};
  };
  test::writeFile(folder.path().toStdString() + "/vier.desktop",
                  "[Desktop Entry]\nName=vier\nIcon=varek-unthemed\n");
  const Screenshot application = drawn("/vier.desktop");
  const Screenshot file = drawn("/x.txt");
  QIcon::setThemeSearchPaths(paths);
  QIcon::setThemeName(theme);
  EXPECT_GE(application.count(QRect(0, 0, 28, 28), white), 10);
  EXPECT_GE(file.count(QRect(0, 0, 28, 28), white), 10);
  EXPECT_NE(application.image, file.image);
}

}  // namespace
}  // namespace varek
