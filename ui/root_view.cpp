#include "ui/root_view.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStaticText>
#include <QTextLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "ui/accessible_views.h"
#include "ui/drawn_once.h"
#include "ui/glut.h"
#include "ui/logo_mark.h"
#include "ui/row.h"
#include "ui/search_field.h"

namespace varek {
namespace {

using Mode = SearchModel::Mode;

// The card.
constexpr qreal kCornerRadius = 22;
constexpr qreal kBorderWidth = 1;
constexpr qreal kBorderTopOpacity = 0.16;
constexpr qreal kBorderBottomOpacity = 0.04;
// Over the backdrop: a dark tint, then a faint ember glow from the top-left corner.
const QColor kTint = QColor::fromRgbF(0.07f, 0.065f, 0.075f, 0.62f);
constexpr qreal kGlowOpacity = 0.10;
constexpr qreal kGlowRadius = 420;
// Selected text in the field: a muted ember under white text.
constexpr qreal kTextSelectionOpacity = 0.45;

// From top to bottom: header, hairline, list, hairline, footer.
constexpr int kHeaderHeight = 62;
constexpr int kHairlineHeight = 1;
constexpr int kFooterHeight = 38;
constexpr int kListTop = kHeaderHeight + kHairlineHeight;
constexpr int kFooterTop = RootView::kHeight - kFooterHeight;
constexpr int kListHeight = kFooterTop - kHairlineHeight - kListTop;
constexpr qreal kHairlineOpacity = 0.09;  // in the middle; the ends fade out

constexpr int kHeaderPadding = 20;
constexpr int kHeaderSpacing = 14;
constexpr int kLogoSize = 22;
constexpr qreal kBadgeTextSize = 11.5;
constexpr qreal kBadgeHorizontalPadding = 9;
constexpr qreal kBadgeVerticalPadding = 4;
constexpr qreal kBadgeFillOpacity = 0.14;

constexpr qreal kFooterPadding = 18;
constexpr qreal kFooterSpacing = 14;
constexpr qreal kTabTextSize = 11.5;
constexpr qreal kTabSpacing = 4;  // between a tab's title and its shortcut
constexpr qreal kCurrentTabOpacity = 0.90;
constexpr qreal kTabOpacity = 0.45;
constexpr qreal kShortcutOpacity = 0.28;

constexpr int kListPadding = 8;
constexpr int kRowSpacing = 2;
// One notch of a mouse wheel scrolls by about a row and its spacing.
constexpr int kWheelStep = 48;
constexpr int kWheelNotch = 120;  // Qt's angle delta of one notch, in eighths of a degree

constexpr qreal kEmptyHorizontalPadding = 26;
constexpr qreal kEmptyTopPadding = 18;
constexpr qreal kEmptySpacing = 10;
constexpr qreal kNothingFoundSize = 14;
constexpr qreal kNothingFoundOpacity = 0.50;
constexpr qreal kHintTitleSize = 15;
constexpr qreal kHintTitleOpacity = 0.85;
constexpr qreal kHintSpacing = 6;
constexpr qreal kHintTextSize = 13;
constexpr qreal kHintTextOpacity = 0.55;
constexpr qreal kHintLineSpacing = 3;
constexpr qreal kHintTextWidth = 520;
constexpr qreal kHeadingSize = 11;
constexpr qreal kHeadingTracking = 0.8;
constexpr qreal kHeadingOpacity = 0.35;
constexpr qreal kTipKeySize = 12.5;
constexpr qreal kTipKeyColumn = 190;
constexpr qreal kTipSpacing = 12;
constexpr qreal kTipTextSize = 13;
constexpr qreal kTipTextOpacity = 0.62;

constexpr std::array kModes{Mode::all, Mode::files, Mode::clipboard, Mode::windows};

std::size_t modeIndex(Mode mode) { return static_cast<std::size_t>(mode) - 1; }

QString fromUtf8(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

struct Hint {
  QString title;
  QString text;
};

struct Tip {
  QString key;
  QString text;
};

// Fonts, colours, brushes and texts, built once on the first view.
struct Style {
  QFont badgeFont = systemFont(kBadgeTextSize, QFont::DemiBold);
  QFont tabFont = systemFont(kTabTextSize, QFont::Normal);
  QFont currentTabFont = systemFont(kTabTextSize, QFont::DemiBold);
  QFont nothingFoundFont = systemFont(kNothingFoundSize, QFont::Medium);
  QFont hintTitleFont = systemFont(kHintTitleSize, QFont::DemiBold);
  QFont hintTextFont = systemFont(kHintTextSize, QFont::Normal);
  QFont headingFont = [] {
    QFont font = systemFont(kHeadingSize, QFont::DemiBold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, kHeadingTracking);
    return font;
  }();
  QFont tipKeyFont = systemFont(kTipKeySize, QFont::Medium, FontDesign::monospaced);
  QFont tipTextFont = systemFont(kTipTextSize, QFont::Normal);

  QColor currentTab = white(kCurrentTabOpacity);
  QColor tab = white(kTabOpacity);
  QColor shortcut = white(kShortcutOpacity);
  QColor badgeFill = [] {
    QColor color = Glut::ember();
    color.setAlphaF(static_cast<float>(kBadgeFillOpacity));
    return color;
  }();
  QColor nothingFound = white(kNothingFoundOpacity);
  QColor hintTitle = white(kHintTitleOpacity);
  QColor hintText = white(kHintTextOpacity);
  QColor headingColor = white(kHeadingOpacity);
  QColor tipText = white(kTipTextOpacity);

  QPainterPath card = [] {
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, RootView::kWidth, RootView::kHeight), kCornerRadius,
                        kCornerRadius);
    return path;
  }();
  // The border lies inside the card's outline.
  QPainterPath border = [this] {
    QPainterPath inner;
    inner.addRoundedRect(QRectF(0, 0, RootView::kWidth, RootView::kHeight)
                             .adjusted(kBorderWidth, kBorderWidth, -kBorderWidth, -kBorderWidth),
                         kCornerRadius - kBorderWidth, kCornerRadius - kBorderWidth);
    return card.subtracted(inner);
  }();
  QLinearGradient borderFill = [] {
    QLinearGradient gradient(0, 0, 0, RootView::kHeight);
    gradient.setStops({{0.0, white(kBorderTopOpacity)}, {1.0, white(kBorderBottomOpacity)}});
    return gradient;
  }();
  QRadialGradient glowFill = [] {
    QRadialGradient gradient(QPointF(0, 0), kGlowRadius);
    QColor inner = Glut::ember();
    inner.setAlphaF(static_cast<float>(kGlowOpacity));
    QColor outer = Glut::ember();
    outer.setAlphaF(0);
    gradient.setStops({{0.0, inner}, {1.0, outer}});
    return gradient;
  }();
  QLinearGradient hairline = [] {
    QLinearGradient gradient(0, 0, RootView::kWidth, 0);
    gradient.setStops({{0.0, white(0)}, {0.5, white(kHairlineOpacity)}, {1.0, white(0)}});
    return gradient;
  }();

  std::array<QString, 4> titles = {fromUtf8(title(Mode::all)), fromUtf8(title(Mode::files)),
                                   fromUtf8(title(Mode::clipboard)),
                                   fromUtf8(title(Mode::windows))};
  std::array<QString, 4> placeholders = {
      QStringLiteral("Starten, suchen, rechnen …"), QStringLiteral("Dateien suchen …"),
      QStringLiteral("Zwischenablage durchsuchen …"), QStringLiteral("Fenster finden …")};
  // Strg and the mode's number.
  std::array<QString, 4> shortcuts = {QStringLiteral("Strg+1"), QStringLiteral("Strg+2"),
                                      QStringLiteral("Strg+3"), QStringLiteral("Strg+4")};
  // The tabs' widths in their two fonts, measured once: they are laid out again whenever
  // the hints change, and measuring shapes the texts.
  struct TabWidths {
    std::array<qreal, 4> titles;
    std::array<qreal, 4> shortcuts;
  };
  std::array<TabWidths, 2> tabWidths = [this] {
    std::array<TabWidths, 2> widths{};
    for (const bool current : {false, true}) {
      const QFontMetricsF metrics(current ? currentTabFont : tabFont);
      for (std::size_t index = 0; index < titles.size(); ++index) {
        widths[current].titles[index] = metrics.horizontalAdvance(titles[index]);
        widths[current].shortcuts[index] = metrics.horizontalAdvance(shortcuts[index]);
      }
    }
    return widths;
  }();

  QString nothingFoundText = QStringLiteral("Nichts gefunden");
  Hint clipboardHint{
      QStringLiteral("Noch nichts kopiert"),
      QStringLiteral("Ab jetzt merkt sich Varek Texte und Dateipfade, die du "
                     "kopierst – bis zu 200. Passwörter aus Passwortmanagern "
                     "landen nie im Verlauf. Eingabe fügt einen Eintrag direkt ein.")};
  // Where Return can only copy.
  Hint clipboardCopyHint{
      clipboardHint.title,
      QStringLiteral("Ab jetzt merkt sich Varek Texte und Dateipfade, die du "
                     "kopierst – bis zu 200. Passwörter aus Passwortmanagern "
                     "landen nie im Verlauf. Eingabe kopiert einen Eintrag, Strg+V fügt "
                     "ihn ein.")};
  Hint filesHint{QStringLiteral("Dateien suchen"),
                 QStringLiteral("Tippe einen Teil des Namens. Unter „Alles“ zeigt Varek nur "
                                "Dateien, die du schon geöffnet hast – hier alle.")};
  Hint windowsHint{QStringLiteral("Keine Fenster"),
                   QStringLiteral("Varek findet hier alle offenen Fenster aller Apps.")};
  QString heading = QStringLiteral("Tricks").toUpper();
  std::array<Tip, 8> tips{{
      {QStringLiteral("saf"), QStringLiteral("Apps öffnen – Varek lernt, was du meinst")},
      {QStringLiteral("12*7+3 · 5 km in mi"), QStringLiteral("Rechnen und umrechnen")},
      {QStringLiteral("g · yt · w · gh · tr"),
       QStringLiteral("Web, YouTube, Wikipedia, GitHub, DeepL")},
      {QStringLiteral("def Wort"), QStringLiteral("Im Lexikon nachschlagen")},
      {QStringLiteral("> befehl"), QStringLiteral("Im Terminal ausführen")},
      {QStringLiteral("beenden App"), QStringLiteral("Laufende App beenden")},
      {QStringLiteral("Strg+2 · Strg+3 · Strg+4"),
       QStringLiteral("Dateien · Zwischenablage · Fenster")},
      {QStringLiteral("links · maximieren"), QStringLiteral("Fenster anordnen")},
  }};
};

const Style& appearance() {
  static const Style shared;
  return shared;
}

qreal lineHeight(const QFont& font) { return QFontMetricsF(font).height(); }

// The empty list's few texts, shaped once: they are drawn at every opening. Main thread
// only; the texts are those of Style.
const QStaticText& shaped(const QString& text, const QFont& font) {
  struct Key {
    QString text;
    QFont font;
    bool operator==(const Key&) const = default;
  };
  struct Hash {
    std::size_t operator()(const Key& key) const { return qHashMulti(0, key.text, key.font); }
  };
  static std::unordered_map<Key, QStaticText, Hash> texts;
  Key key{text, font};
  if (const auto found = texts.find(key); found != texts.end()) return found->second;
  QStaticText line(text);
  line.setTextFormat(Qt::PlainText);
  line.prepare(QTransform(), font);
  return texts.emplace(std::move(key), std::move(line)).first->second;
}

// Draws one line of text, its top-left corner at `origin` and centred on a line of
// `height` (its font's own, when 0); returns the line's height.
qreal drawTextLine(QPainter& painter, const QString& line, const QFont& font, const QColor& color,
                   QPointF origin, qreal height = 0) {
  const qreal own = lineHeight(font);
  painter.setFont(font);
  painter.setPen(color);
  painter.drawStaticText(origin + QPointF(0, height > 0 ? (height - own) / 2 : 0),
                         shaped(line, font));
  return height > 0 ? height : own;
}

// Draws text wrapped at word boundaries within `width`, lines `spacing` apart; returns its
// height.
qreal drawWrapped(QPainter& painter, const QString& text, const QFont& font, const QColor& color,
                  QPointF origin, qreal width, qreal spacing) {
  QTextLayout layout(text, font);
  QTextOption option;
  option.setWrapMode(QTextOption::WordWrap);
  layout.setTextOption(option);
  qreal height = 0;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    if (height > 0) height += spacing;
    line.setLineWidth(width);
    line.setPosition(QPointF(0, height));
    height += line.height();
  }
  layout.endLayout();
  painter.setPen(color);
  layout.draw(&painter, origin);
  return height;
}

// What never changes, drawn once: the backdrop, tint and glow of the rounded card, the
// hairlines and the border. Only the card is drawn; the corners outside it stay clear.
CardPicture cardBackground(qreal devicePixelRatio, bool translucent) {
  const Style& look = appearance();
  QImage image(QSize(RootView::kWidth, RootView::kHeight) * devicePixelRatio,
               QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(devicePixelRatio);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  VisualEffect{.translucent = translucent}.paint(painter, look.card);
  painter.fillPath(look.card, kTint);
  painter.fillPath(look.card, look.glowFill);
  painter.fillRect(QRectF(0, kHeaderHeight, RootView::kWidth, kHairlineHeight), look.hairline);
  painter.fillRect(QRectF(0, kFooterTop - kHairlineHeight, RootView::kWidth, kHairlineHeight),
                   look.hairline);
  painter.fillPath(look.border, look.borderFill);
  painter.end();
  // Beside the glow, the card differs from its colour only along its edges, at its
  // rounded corners and on the hairlines.
  constexpr int kEdge = 2;
  constexpr int kCorner = static_cast<int>(kCornerRadius) + kEdge;
  constexpr int kRight = RootView::kWidth;
  constexpr int kBottom = RootView::kHeight;
  const std::vector<QRect> strips = {
      {0, 0, kRight, kEdge},
      {0, kBottom - kEdge, kRight, kEdge},
      {0, 0, kEdge, kBottom},
      {kRight - kEdge, 0, kEdge, kBottom},
      {0, 0, kCorner, kCorner},
      {kRight - kCorner, 0, kCorner, kCorner},
      {0, kBottom - kCorner, kCorner, kCorner},
      {kRight - kCorner, kBottom - kCorner, kCorner, kCorner},
      {0, kHeaderHeight, kRight, kHairlineHeight},
      {0, kFooterTop - kHairlineHeight, kRight, kHairlineHeight}};
  // Far from the glow, between the hairlines.
  const QPoint plain(kRight * 3 / 4, (kListTop + kFooterTop) / 2);
  // Unblended, the window has no alpha channel (and its corners are cut away): the card is
  // kept in the window's own format.
  return CardPicture(translucent ? image : image.convertToFormat(QImage::Format_RGB32), plain,
                     strips);
}

}  // namespace

// The rows in a scrolled strip between the hairlines; only the rows in view are painted.
class RootView::List : public QWidget {
 public:
  List(SearchModel& model, RootView& root) : QWidget(&root), model_(model), root_(root) {}

  // Measures the new rows; the scroll position stays, within the new length.
  void itemsChanged() {
    tops_.clear();
    int top = kListPadding;
    for (const Item& item : model_.items()) {
      tops_.push_back(top);
      top += Row::height(item.kind) + kRowSpacing;
    }
    contentHeight_ = tops_.empty() ? 0 : top - kRowSpacing + kListPadding;
    const int offset = offset_;
    offset_ = clampedOffset(offset_);
    if (offset_ == offset) {
      updateChangedRows();
    } else {
      repaintRows(rect());
    }
  }

  QRect rowRect(int index) const {
    if (index < 0 || index >= static_cast<int>(tops_.size())) return {};
    return {kListPadding, tops_[index] - offset_, width() - 2 * kListPadding,
            Row::height(model_.items()[index].kind)};
  }

  // Scrolls by the least amount that shows the selected row whole.
  void selectionChanged() {
    const int selection = model_.selection();
    if (selection < 0 || selection >= static_cast<int>(tops_.size())) return update();
    const int top = tops_[selection];
    const int bottom = top + Row::height(model_.items()[selection].kind);
    if (top < offset_) {
      scrollTo(top);
    } else if (bottom > offset_ + height()) {
      scrollTo(bottom - height());
    } else {
      updateChangedRows();
    }
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    // Every row that differs from what is on the screen was marked for repainting when it
    // changed, so after this paint the screen shows the rows in view.
    painted_ = rowsInView();
    const std::vector<Item>& items = model_.items();
    if (items.empty()) return paintEmptyState(painter);
    const auto& confirmID = model_.confirmID();
    // The first row whose bottom lies below the top of the view.
    auto first = std::upper_bound(tops_.begin(), tops_.end(), offset_);
    std::size_t index = first == tops_.begin() ? 0 : (first - tops_.begin()) - 1;
    for (; index < items.size() && tops_[index] < offset_ + height(); ++index) {
      const Item& item = items[index];
      const QRect frame = rowRect(static_cast<int>(index));
      // The accent's glow reaches into the padding beside the row.
      if (!event->region().intersects(QRect(0, frame.top(), width(), frame.height()))) continue;
      const Row row{.item = item,
                    .selected = static_cast<int>(index) == model_.selection(),
                    .confirming = confirmID && *confirmID == item.id};
      row.paint(painter, frame);
    }
  }

  void mousePressEvent(QMouseEvent* event) override { pressedRow_ = rowAt(event->position()); }

  // One click runs the row, or asks for its confirmation; it selects it first.
  void mouseReleaseEvent(QMouseEvent* event) override {
    const std::optional<int> row = rowAt(event->position());
    const bool sameRow = row && row == pressedRow_;
    pressedRow_.reset();
    if (!sameRow) return;
    if (model_.selection() != *row) model_.setSelection(*row);
    model_.activate(SearchModel::Action::open);
  }

  void wheelEvent(QWheelEvent* event) override {
    const int delta = event->pixelDelta().isNull()
                          ? event->angleDelta().y() * kWheelStep / kWheelNotch
                          : event->pixelDelta().y();
    scrollTo(offset_ - delta);
    event->accept();
  }

 private:
  // What a row in view shows, as far as its picture goes.
  struct Shown {
    std::string title;
    std::string subtitle;
    Item::Kind kind;
    Item::Icon icon;
    bool selected;
    bool confirming;
    QRect frame;
    int textsRight;  // see Row::Extent
    int kindLeft;
    bool operator==(const Shown&) const = default;
  };

  int clampedOffset(int offset) const {
    return std::clamp(offset, 0, std::max(0, contentHeight_ - height()));
  }

  void scrollTo(int offset) {
    offset_ = clampedOffset(offset);
    update();
  }

  std::vector<Shown> rowsInView() const {
    std::vector<Shown> rows;
    const std::vector<Item>& items = model_.items();
    const auto& confirmID = model_.confirmID();
    for (std::size_t index = 0; index < items.size(); ++index) {
      const QRect frame = rowRect(static_cast<int>(index));
      if (frame.bottom() < 0) continue;
      if (frame.top() >= height()) break;
      const Item& item = items[index];
      const Row row{.item = item,
                    .selected = static_cast<int>(index) == model_.selection(),
                    .confirming = confirmID && *confirmID == item.id};
      const Row::Extent extent = row.extent(frame);
      rows.push_back({item.title, item.subtitle, item.kind, item.icon, row.selected, row.confirming,
                      frame, static_cast<int>(std::ceil(extent.textsRight)),
                      static_cast<int>(std::floor(extent.kindLeft))});
    }
    return rows;
  }

  // Typing keeps many rows as they were (the best matches often stay on top), and the
  // keystroke's drawing is as small as the rows that did change: only they are repainted.
  // A row that kept its place and plate differs only from its left edge to where its texts
  // end, and in its kind label; the space between is the plate's alone, and it is most of
  // the row. Every pixel repainted is written, sent and copied again, while each rectangle
  // repainted is a drawing of its own for the X server: the rows' changes go as at most
  // three rectangles.
  void updateChangedRows() {
    const std::vector<Shown> rows = rowsInView();
    if (rows.empty() || painted_.empty()) return repaintRows(rect());
    QRect texts;
    QRect kinds;
    QRect whole;
    for (std::size_t slot = 0; slot < std::max(rows.size(), painted_.size()); ++slot) {
      const Shown* now = slot < rows.size() ? &rows[slot] : nullptr;
      const Shown* before = slot < painted_.size() ? &painted_[slot] : nullptr;
      if (now && before && *now == *before) continue;
      if (now && before && now->frame == before->frame && now->selected == before->selected) {
        const QRect& frame = now->frame;
        texts |= QRect(frame.topLeft(),
                       QPoint(std::max(before->textsRight, now->textsRight), frame.bottom()));
        if (now->kind != before->kind) {
          kinds |= QRect(QPoint(std::min(before->kindLeft, now->kindLeft), frame.top()),
                         frame.bottomRight());
        }
        continue;
      }
      // The whole width: the selected row's accent glows out into the list's padding.
      if (now) whole |= QRect(0, now->frame.top(), width(), now->frame.height());
      if (before) whole |= QRect(0, before->frame.top(), width(), before->frame.height());
    }
    // The last row in view may reach below the list; the footer there has not changed.
    const QRegion changed = (QRegion(whole) + texts + kinds) & rect();
    if (!changed.isEmpty()) repaintRows(changed);
  }

  void repaintRows(const QRegion& rows) { root_.repaintRows(rows.translated(pos())); }

  std::optional<int> rowAt(QPointF point) const {
    if (point.x() < kListPadding || point.x() >= width() - kListPadding) return std::nullopt;
    const qreal y = point.y() + offset_;
    for (std::size_t index = 0; index < tops_.size(); ++index) {
      const int top = tops_[index];
      if (y >= top && y < top + Row::height(model_.items()[index].kind)) {
        return static_cast<int>(index);
      }
    }
    return std::nullopt;
  }

  void paintEmptyState(QPainter& painter) const {
    const Style& look = appearance();
    painter.setRenderHint(QPainter::Antialiasing);
    QPointF origin(kEmptyHorizontalPadding, kEmptyTopPadding);
    if (!model_.query().empty()) {
      drawTextLine(painter, look.nothingFoundText, look.nothingFoundFont, look.nothingFound,
                   origin);
      return;
    }
    const Hint* hint = nullptr;
    switch (model_.mode()) {
      case Mode::clipboard:
        hint = model_.pastesClipboard() ? &look.clipboardHint : &look.clipboardCopyHint;
        break;
      case Mode::files:
        hint = &look.filesHint;
        break;
      case Mode::windows:
        hint = &look.windowsHint;
        break;
      case Mode::all:
        break;
    }
    if (hint) {
      origin.ry() += drawTextLine(painter, hint->title, look.hintTitleFont, look.hintTitle, origin);
      origin.ry() += kHintSpacing;
      const qreal width = std::min(kHintTextWidth, this->width() - 2 * kEmptyHorizontalPadding);
      drawWrapped(painter, hint->text, look.hintTextFont, look.hintText, origin, width,
                  kHintLineSpacing);
      return;
    }
    origin.ry() += drawTextLine(painter, look.heading, look.headingFont, look.headingColor, origin);
    const qreal tipHeight = std::max(lineHeight(look.tipKeyFont), lineHeight(look.tipTextFont));
    for (const Tip& tip : look.tips) {
      origin.ry() += kEmptySpacing;
      drawTextLine(painter, tip.key, look.tipKeyFont, Glut::ember(), origin, tipHeight);
      drawTextLine(painter, tip.text, look.tipTextFont, look.tipText,
                   origin + QPointF(kTipKeyColumn + kTipSpacing, 0), tipHeight);
      origin.ry() += tipHeight;
    }
  }

  SearchModel& model_;
  RootView& root_;
  std::vector<int> tops_;  // of each row, in the scrolled content
  int contentHeight_ = 0;
  int offset_ = 0;  // how far the content is scrolled up
  std::optional<int> pressedRow_;
  std::vector<Shown> painted_;  // the rows in view at the last paint
};

RootView::RootView(SearchModel& model, QWidget* parent)
    : QWidget(parent),
      model_(model),
      logo_(new LogoMark(kLogoSize, this)),
      field_(new SearchField(model, this)),
      list_(new List(model, *this)) {
  setFixedSize(kWidth, kHeight);
  // The card replaces all that lies below it (see paintEvent()).
  setAttribute(Qt::WA_OpaquePaintEvent);
  // Always dark, whatever the desktop's scheme; outside the rounded card nothing is drawn.
  QColor selection = Glut::ember();
  selection.setAlphaF(static_cast<float>(kTextSelectionOpacity));
  QPalette colors = palette();
  for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    colors.setColor(group, QPalette::Window, Qt::transparent);
    colors.setColor(group, QPalette::WindowText, Qt::white);
    colors.setColor(group, QPalette::Base, Qt::transparent);
    colors.setColor(group, QPalette::Text, Qt::white);
    colors.setColor(group, QPalette::Highlight, selection);
    colors.setColor(group, QPalette::HighlightedText, Qt::white);
  }
  setPalette(colors);
  accessibility::install();
  logo_->moveMark(QPoint(kHeaderPadding, (kHeaderHeight - kLogoSize) / 2));
  list_->setGeometry(0, kListTop, kWidth, kListHeight);
  for (const SearchModel::Field changed :
       {SearchModel::Field::query, SearchModel::Field::mode, SearchModel::Field::items}) {
    modelChanged(changed);
  }
}

SearchField& RootView::field() { return *field_; }

void RootView::setTranslucent(bool translucent) {
  if (translucent == translucent_) return;
  translucent_ = translucent;
  background_ = CardPicture();
  update();
}

QWidget& RootView::list() const { return *list_; }

QRect RootView::rowRect(int index) const { return list_->rowRect(index); }

QRect RootView::tabRect(Mode mode) const { return tabs_[modeIndex(mode)].toAlignedRect(); }

void RootView::modelChanged(SearchModel::Field changed) {
  switch (changed) {
    case SearchModel::Field::query:
      // The field repaints itself; without rows the list shows "Nichts gefunden" or the tips.
      field_->showQuery();
      fieldChanged_ = true;
      if (model_.items().empty()) update(field_->geometry() | list_->geometry());
      break;
    case SearchModel::Field::mode:
      field_->showPlaceholder(appearance().placeholders[modeIndex(model_.mode())]);
      layoutHeader();
      layoutTabs();
      update();
      accessibility::modeChanged(*this);
      break;
    case SearchModel::Field::items:
    case SearchModel::Field::selection: {
      if (changed == SearchModel::Field::items) {
        list_->itemsChanged();
        accessibility::rowsChanged(*this);
      } else {
        list_->selectionChanged();
        accessibility::selectionChanged(*this);
      }
      const int selection = model_.selection();
      const bool valid = selection >= 0 && selection < static_cast<int>(model_.items().size());
      std::vector<Key> hints = valid ? keyHints(model_.items()[selection], model_.pastesClipboard())
                                     : std::vector<Key>{};
      if (hints != hints_) {
        hints_ = std::move(hints);
        layoutTabs();
        update();  // the footer, and as one drawing with the rows and the field
      }
      break;
    }
    case SearchModel::Field::confirmID:
      list_->update();
      accessibility::confirmationChanged(*this);
      break;
    case SearchModel::Field::lastSearchMs:
      break;
  }
}

// A keystroke's changes are painted as one frame: the rows' changed parts with the field
// when the keystroke changed it too.
void RootView::repaintRows(QRegion rows) {
  if (fieldChanged_) rows += field_->geometry();
  fieldChanged_ = false;
  update(rows);
}

void RootView::layoutHeader() {
  qreal fieldRight = kWidth - kHeaderPadding;
  if (model_.mode() == Mode::all) {
    badge_ = QRectF();
  } else {
    const QFontMetricsF metrics(appearance().badgeFont);
    const QSizeF size(metrics.horizontalAdvance(appearance().titles[modeIndex(model_.mode())]) +
                          2 * kBadgeHorizontalPadding,
                      metrics.height() + 2 * kBadgeVerticalPadding);
    badge_ = QRectF(QPointF(fieldRight - size.width(), (kHeaderHeight - size.height()) / 2), size);
    fieldRight = badge_.left() - kHeaderSpacing;
  }
  const int fieldLeft = kHeaderPadding + kLogoSize + kHeaderSpacing;
  const int fieldHeight = field_->sizeHint().height();
  field_->setGeometry(fieldLeft, (kHeaderHeight - fieldHeight) / 2,
                      static_cast<int>(fieldRight) - fieldLeft, fieldHeight);
}

void RootView::layoutTabs() {
  const Style& look = appearance();
  qreal hintsWidth = 0;
  for (const Key& hint : hints_) hintsWidth += kFooterSpacing + hint.size().width();
  const qreal right = kWidth - kFooterPadding - hintsWidth;
  // The selected row's hints keep the room they need, and the tabs give way: first their
  // shortcuts go (the tips name them too), then the tabs of the other modes.
  for (const TabDetail detail : {TabDetail::full, TabDetail::titles, TabDetail::current}) {
    qreal left = kFooterPadding;
    for (const Mode mode : kModes) {
      const std::size_t index = modeIndex(mode);
      if (detail == TabDetail::current && mode != model_.mode()) {
        tabs_[index] = QRectF();
        continue;
      }
      const bool current = mode == model_.mode();
      const Style::TabWidths& widths = look.tabWidths[current];
      qreal width = widths.titles[index];
      if (detail == TabDetail::full) width += kTabSpacing + widths.shortcuts[index];
      const qreal height = lineHeight(current ? look.currentTabFont : look.tabFont);
      tabs_[index] = QRectF(left, kFooterTop + (kFooterHeight - height) / 2, width, height);
      left += width + kFooterSpacing;
    }
    tabDetail_ = detail;
    if (left - kFooterSpacing <= right) break;
  }
}

void RootView::paintEvent(QPaintEvent* event) {
  const qreal devicePixelRatio = devicePixelRatioF();
  if (background_.isNull() || background_.devicePixelRatio() != devicePixelRatio) {
    background_ = cardBackground(devicePixelRatio, translucent_);
  }
  QPainter painter(this);
  // The card replaces what the window held.
  for (const QRect& area : event->region()) background_.paint(painter, area);
  painter.setRenderHint(QPainter::Antialiasing);
  if (event->rect().intersects(QRect(0, 0, kWidth, kHeaderHeight))) paintHeader(painter);
  if (event->rect().intersects(QRect(0, kFooterTop, kWidth, kFooterHeight))) paintFooter(painter);
}

void RootView::paintHeader(QPainter& painter) const {
  if (badge_.isEmpty()) return;
  const Style& look = appearance();
  painter.setPen(Qt::NoPen);
  painter.setBrush(look.badgeFill);
  painter.drawRoundedRect(badge_, badge_.height() / 2, badge_.height() / 2);
  painter.setFont(look.badgeFont);
  painter.setPen(Glut::ember());
  painter.drawText(badge_, Qt::AlignCenter, look.titles[modeIndex(model_.mode())]);
}

void RootView::paintFooter(QPainter& painter) const {
  // The tabs change with the mode and with the room the hints leave them, far less often
  // than the hints.
  qreal right = 0;
  for (const QRectF& tab : tabs_) right = std::max(right, tab.right());
  drawOnce(painter, QPointF(0, kFooterTop),
           QStringLiteral("varek.tabs:%1:%2")
               .arg(static_cast<int>(model_.mode()))
               .arg(static_cast<int>(tabDetail_)),
           QSizeF(right, kFooterHeight), [&](QPainter& drawing) {
             drawing.translate(0, -kFooterTop);
             paintTabs(drawing);
           });
  qreal width = 0;
  for (const Key& hint : hints_) width += hint.size().width();
  width += kFooterSpacing * (std::max<std::size_t>(hints_.size(), 1) - 1);
  qreal left = kWidth - kFooterPadding - width;
  const qreal centre = kFooterTop + kFooterHeight / 2.0;
  for (const Key& hint : hints_) {
    hint.paint(painter, QPointF(left, centre));
    left += hint.size().width() + kFooterSpacing;
  }
}

void RootView::paintTabs(QPainter& painter) const {
  const Style& look = appearance();
  for (const Mode mode : kModes) {
    const std::size_t index = modeIndex(mode);
    const bool current = mode == model_.mode();
    const QRectF& tab = tabs_[index];
    if (tab.isEmpty()) continue;
    painter.setFont(current ? look.currentTabFont : look.tabFont);
    painter.setPen(current ? look.currentTab : look.tab);
    QRectF drawn;
    painter.drawText(tab, Qt::AlignLeft | Qt::AlignVCenter, look.titles[index], &drawn);
    if (tabDetail_ != TabDetail::full) continue;
    painter.setPen(look.shortcut);
    painter.drawText(tab.adjusted(drawn.width() + kTabSpacing, 0, 0, 0),
                     Qt::AlignLeft | Qt::AlignVCenter, look.shortcuts[index]);
  }
}

std::optional<Mode> RootView::tabAt(QPointF point) const {
  for (const Mode mode : kModes) {
    if (tabs_[modeIndex(mode)].contains(point)) return mode;
  }
  return std::nullopt;
}

void RootView::mousePressEvent(QMouseEvent* event) { pressedTab_ = tabAt(event->position()); }

void RootView::mouseReleaseEvent(QMouseEvent* event) {
  const std::optional<Mode> tab = tabAt(event->position());
  const bool sameTab = tab && tab == pressedTab_;
  pressedTab_.reset();
  if (sameTab) model_.setMode(*tab);
}

}  // namespace varek
