#include "ui/row.h"

#include <QFontMetricsF>
#include <QHashFunctions>
#include <QPixmapCache>
#include <QStaticText>
#include <array>
#include <optional>
#include <unordered_map>
#include <utility>

#include "ui/drawn_once.h"
#include "ui/glut.h"
#include "ui/icon_cache.h"

namespace varek {
namespace {

constexpr qreal kPadding = 12;  // left and right
constexpr qreal kSpacing = 12;  // between icon, texts and kind label
constexpr int kIconSize = 28;
// Title and subtitle sit side by side like words of one line.
constexpr qreal kTitleSpacing = 8;
constexpr qreal kTitleSize = 14.5;
constexpr qreal kSelectedTitleOpacity = 1.0;
constexpr qreal kTitleOpacity = 0.88;
constexpr qreal kResultSize = 21;  // a calculator row's title
constexpr qreal kSubtitleSize = 12;
constexpr qreal kSubtitleOpacity = 0.38;
constexpr qreal kResultSubtitleOpacity = 0.42;
constexpr qreal kKindSize = 10.5;
constexpr qreal kKindTracking = 0.5;
constexpr qreal kKindOpacity = 0.28;
// How far a glyph's antialiased edge may reach past its advance.
constexpr qreal kInkOverhang = 2;
const QColor kConfirmationColor = QColor::fromRgbF(1.0f, 0.42f, 0.36f);
const QString kConfirmation = QStringLiteral("Nochmal Eingabe zum Bestätigen");

constexpr qreal kHighlightRadius = 11;
constexpr qreal kHighlightOpacity = 0.085;
constexpr qreal kAccentWidth = 3;
constexpr qreal kAccentHeight = 20;
constexpr qreal kAccentInset = 1;
constexpr qreal kAccentGlowRadius = 4;
constexpr qreal kAccentGlowOpacity = 0.80;

constexpr std::array kKinds{Item::Kind::app,       Item::Kind::file,      Item::Kind::folder,
                            Item::Kind::calc,      Item::Kind::clipboard, Item::Kind::command,
                            Item::Kind::setting,   Item::Kind::window,    Item::Kind::web,
                            Item::Kind::dictionary};

// A font with its measures, made once.
struct Face {
  explicit Face(QFont chosen) : font(std::move(chosen)), metrics(font) {}
  QFont font;
  QFontMetricsF metrics;
};

// The fonts a row writes in, indexing Style::faces.
enum class Font { title, result, subtitle, kind };

struct Style {
  std::array<Face, 4> faces = {
      Face(systemFont(kTitleSize, QFont::Medium)),
      Face(systemFont(kResultSize, QFont::DemiBold, FontDesign::rounded)),
      Face(systemFont(kSubtitleSize, QFont::Normal)), Face([] {
        QFont font = systemFont(kKindSize, QFont::DemiBold);
        font.setLetterSpacing(QFont::AbsoluteSpacing, kKindTracking);
        return font;
      }())};
  QColor selectedTitle = white(kSelectedTitleOpacity);
  QColor title = white(kTitleOpacity);
  QColor subtitle = white(kSubtitleOpacity);
  QColor resultSubtitle = white(kResultSubtitleOpacity);
  QColor kind = white(kKindOpacity);
  QColor highlight = white(kHighlightOpacity);
  // The kind labels, converted once and indexed like kKinds.
  std::array<QString, kKinds.size()> kindLabels = [] {
    std::array<QString, kKinds.size()> labels;
    for (std::size_t index = 0; index < kKinds.size(); ++index) {
      const std::string_view text = label(kKinds[index]);
      labels[index] = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    return labels;
  }();

  const QString& kindLabel(Item::Kind kind) const {
    for (std::size_t index = 0; index < kKinds.size(); ++index) {
      if (kKinds[index] == kind) return kindLabels[index];
    }
    return kindLabels.front();
  }
};

const Style& appearance() {
  static const Style shared;
  return shared;
}

const Face& face(Font role) { return appearance().faces[static_cast<std::size_t>(role)]; }
const QFont& font(Font role) { return face(role).font; }
const QFontMetricsF& metrics(Font role) { return face(role).metrics; }

// A line of text shaped in its font and cut to its room: drawing it only paints glyphs.
struct Line {
  QStaticText text;  // implicitly shared, so a copy costs a reference count
  qreal width;       // as the row lays it out
};

// Typing shows mostly the rows of the keystroke before, and shaping their texts anew was
// most of what painting a row cost. Bounded by clearing: a row's texts are shaped again in
// far less time than a keystroke leaves. Main thread only.
class Lines {
 public:
  static constexpr std::size_t kLimit = 1024;

  // text in the font, cut with an ellipsis where it is wider than room (unless room is 0).
  // A title keeps its own width below its room and takes all of it when cut; a subtitle is
  // as wide as its room.
  Line line(const QString& text, Font role, qreal room, Qt::TextElideMode elide) {
    Key key{text, role, room, elide};
    if (const auto found = lines_.find(key); found != lines_.end()) return found->second;
    if (lines_.size() >= kLimit) lines_.clear();
    const QFontMetricsF& measure = metrics(role);
    QString shown = text;
    qreal width = room;
    if (role != Font::subtitle) {
      width = measure.horizontalAdvance(text);
      if (room > 0 && width > room) {
        shown = measure.elidedText(text, elide, room);
        width = room;
      }
    } else {
      shown = measure.elidedText(text, elide, room);
    }
    QStaticText shaped(shown);
    shaped.setTextFormat(Qt::PlainText);
    shaped.setPerformanceHint(QStaticText::AggressiveCaching);
    shaped.prepare(QTransform(), font(role));
    return lines_.emplace(std::move(key), Line{std::move(shaped), width}).first->second;
  }

 private:
  struct Key {
    QString text;
    Font role;
    qreal room;
    Qt::TextElideMode elide;
    bool operator==(const Key&) const = default;
  };
  struct Hash {
    std::size_t operator()(const Key& key) const {
      return qHashMulti(0, key.text, static_cast<int>(key.role), key.room,
                        static_cast<int>(key.elide));
    }
  };
  std::unordered_map<Key, Line, Hash> lines_;
};

Lines& lines() {
  static Lines shared;
  return shared;
}

// Draws the line from left, where text aligned to the vertical centre of frame would be.
void draw(QPainter& painter, const Line& line, Font role, qreal left, const QRectF& frame) {
  painter.setFont(font(role));
  painter.drawStaticText(QPointF(left, frame.top() + (frame.height() - metrics(role).height()) / 2),
                         line.text);
}

// The accent bar with its glow, drawn once per device pixel ratio into Qt's pixmap cache.
// The picture starts glowReach() before the bar on both axes.
QPixmap accentBar(qreal devicePixelRatio) {
  const QString key = QStringLiteral("varek.accent@") + QString::number(devicePixelRatio);
  QPixmap pixmap;
  if (QPixmapCache::find(key, &pixmap)) return pixmap;
  QPainterPath bar;
  bar.addRoundedRect(QRectF(0, 0, kAccentWidth, kAccentHeight), kAccentWidth / 2, kAccentWidth / 2);
  QColor glowColor = Glut::ember();
  glowColor.setAlphaF(static_cast<float>(kAccentGlowOpacity));
  const Glow barGlow = glow(bar, glowColor, kAccentGlowRadius, devicePixelRatio);
  QImage image = barGlow.image;
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(-barGlow.origin);
    painter.fillPath(bar, Glut::gradient());
  }
  pixmap = QPixmap::fromImage(std::move(image));
  QPixmapCache::insert(key, pixmap);
  return pixmap;
}

// Whether the subtitle gives way to the request for a second Return; a calculator result
// keeps its own.
bool showsConfirmation(const Row& row) {
  return row.confirming && row.item.kind != Item::Kind::calc;
}

// Where a row's parts lie in its frame. Texts are left out where there is no room for them.
struct Layout {
  QRectF icon;
  Line kind;
  qreal kindLeft;
  Font titleFont;
  qreal textLeft;
  std::optional<Line> title = std::nullopt;
  qreal subtitleLeft = 0;
  std::optional<Line> subtitle = std::nullopt;
};

Layout layOut(const Row& row, const QRectF& frame) {
  const Item& item = row.item;
  const qreal centre = frame.center().y();
  const QRectF icon(frame.left() + kPadding, centre - kIconSize / 2.0, kIconSize, kIconSize);
  const Line kind = lines().line(appearance().kindLabel(item.kind), Font::kind, 0, Qt::ElideNone);
  const qreal kindLeft = frame.right() - kPadding - kind.width;
  const bool isResult = item.kind == Item::Kind::calc;
  Layout layout{.icon = icon,
                .kind = kind,
                .kindLeft = kindLeft,
                .titleFont = isResult ? Font::result : Font::title,
                .textLeft = icon.right() + kSpacing};
  const qreal available = kindLeft - kSpacing - layout.textLeft;
  if (available <= 0) return layout;

  // The title keeps its width first and is cut at its end only when it alone does not fit.
  layout.title =
      lines().line(QString::fromStdString(item.title), layout.titleFont, available, Qt::ElideRight);
  layout.subtitleLeft = layout.textLeft + layout.title->width + kTitleSpacing;
  const qreal subtitleWidth = available - layout.title->width - kTitleSpacing;
  if (subtitleWidth <= 0) return layout;
  layout.subtitle =
      lines().line(showsConfirmation(row) ? kConfirmation : QString::fromStdString(item.subtitle),
                   Font::subtitle, subtitleWidth, isResult ? Qt::ElideRight : Qt::ElideMiddle);
  return layout;
}

}  // namespace

Row::Extent Row::extent(const QRectF& frame) const {
  const Layout layout = layOut(*this, frame);
  qreal textsRight = layout.icon.right();
  if (layout.subtitle) {
    textsRight = layout.subtitleLeft + layout.subtitle->text.size().width();
  } else if (layout.title) {
    textsRight = layout.textLeft + layout.title->text.size().width();
  }
  return {.textsRight = textsRight + kInkOverhang, .kindLeft = layout.kindLeft - kInkOverhang};
}

void Row::paint(QPainter& painter, const QRectF& frame) const {
  const Style& look = appearance();
  const qreal centre = frame.center().y();
  const qreal devicePixelRatio = painter.device()->devicePixelRatioF();
  painter.setRenderHint(QPainter::Antialiasing);

  if (selected) {
    // Filling the plate's rounded outline cost as much as the rest of the row.
    drawOnce(painter, frame.topLeft(),
             QStringLiteral("varek.highlight:%1x%2").arg(frame.width()).arg(frame.height()),
             frame.size(), [&](QPainter& drawing) {
               drawing.setPen(Qt::NoPen);
               drawing.setBrush(appearance().highlight);
               drawing.drawRoundedRect(QRectF(QPointF(), frame.size()), kHighlightRadius,
                                       kHighlightRadius);
             });
    const qreal reach = glowReach(kAccentGlowRadius);
    painter.drawPixmap(
        QPointF(frame.left() + kAccentInset - reach, centre - kAccentHeight / 2 - reach),
        accentBar(devicePixelRatio));
  }

  const Layout layout = layOut(*this, frame);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawPixmap(layout.icon, IconCache::shared().icon(item.icon, kIconSize, devicePixelRatio),
                     QRectF());

  painter.setPen(selected ? Glut::ember() : look.kind);
  draw(painter, layout.kind, Font::kind, layout.kindLeft, frame);

  const bool isResult = item.kind == Item::Kind::calc;
  if (!layout.title) return;
  painter.setPen(isResult || selected ? look.selectedTitle : look.title);
  draw(painter, *layout.title, layout.titleFont, layout.textLeft, frame);

  if (!layout.subtitle) return;
  painter.setPen(showsConfirmation(*this) ? kConfirmationColor
                                          : (isResult ? look.resultSubtitle : look.subtitle));
  draw(painter, *layout.subtitle, Font::subtitle, layout.subtitleLeft, frame);
}

}  // namespace varek
