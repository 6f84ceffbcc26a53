#include "ui/row.h"

#include <QFontMetricsF>
#include <QPixmapCache>
#include <array>

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

struct Style {
  QFont titleFont = systemFont(kTitleSize, QFont::Medium);
  QFont resultFont = systemFont(kResultSize, QFont::DemiBold, FontDesign::rounded);
  QFont subtitleFont = systemFont(kSubtitleSize, QFont::Normal);
  QFont kindFont = [] {
    QFont font = systemFont(kKindSize, QFont::DemiBold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, kKindTracking);
    return font;
  }();
  QFontMetricsF titleMetrics{titleFont};
  QFontMetricsF resultMetrics{resultFont};
  QFontMetricsF subtitleMetrics{subtitleFont};
  QFontMetricsF kindMetrics{kindFont};
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

}  // namespace

void Row::paint(QPainter& painter, const QRectF& frame) const {
  const Style& look = appearance();
  const qreal centre = frame.center().y();
  const qreal devicePixelRatio = painter.device()->devicePixelRatioF();
  painter.setRenderHint(QPainter::Antialiasing);

  if (selected) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(look.highlight);
    painter.drawRoundedRect(frame, kHighlightRadius, kHighlightRadius);
    const qreal reach = glowReach(kAccentGlowRadius);
    painter.drawPixmap(
        QPointF(frame.left() + kAccentInset - reach, centre - kAccentHeight / 2 - reach),
        accentBar(devicePixelRatio));
  }

  const QRectF iconFrame(frame.left() + kPadding, centre - kIconSize / 2.0, kIconSize, kIconSize);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawPixmap(iconFrame, IconCache::shared().icon(item.icon, kIconSize, devicePixelRatio),
                     QRectF());

  const QString& kind = look.kindLabel(item.kind);
  const qreal kindWidth = look.kindMetrics.horizontalAdvance(kind);
  const qreal kindLeft = frame.right() - kPadding - kindWidth;
  painter.setFont(look.kindFont);
  painter.setPen(selected ? Glut::ember() : look.kind);
  painter.drawText(QRectF(kindLeft, frame.top(), kindWidth, frame.height()),
                   Qt::AlignLeft | Qt::AlignVCenter, kind);

  const bool isResult = item.kind == Item::Kind::calc;
  const QFont& titleFont = isResult ? look.resultFont : look.titleFont;
  const QFontMetricsF& titleMetrics = isResult ? look.resultMetrics : look.titleMetrics;
  const qreal textLeft = iconFrame.right() + kSpacing;
  const qreal available = kindLeft - kSpacing - textLeft;
  if (available <= 0) return;

  // The title keeps its width first and is cut at its end only when it alone does not fit.
  QString title = QString::fromStdString(item.title);
  qreal titleWidth = titleMetrics.horizontalAdvance(title);
  if (titleWidth > available) {
    title = titleMetrics.elidedText(title, Qt::ElideRight, available);
    titleWidth = available;
  }
  painter.setFont(titleFont);
  painter.setPen(isResult || selected ? look.selectedTitle : look.title);
  painter.drawText(QRectF(textLeft, frame.top(), titleWidth, frame.height()),
                   Qt::AlignLeft | Qt::AlignVCenter, title);

  const qreal subtitleLeft = textLeft + titleWidth + kTitleSpacing;
  const qreal subtitleWidth = available - titleWidth - kTitleSpacing;
  if (subtitleWidth <= 0) return;
  const bool showsConfirmation = confirming && !isResult;
  const QString subtitle = look.subtitleMetrics.elidedText(
      showsConfirmation ? kConfirmation : QString::fromStdString(item.subtitle),
      isResult ? Qt::ElideRight : Qt::ElideMiddle, subtitleWidth);
  painter.setFont(look.subtitleFont);
  painter.setPen(showsConfirmation ? kConfirmationColor
                                   : (isResult ? look.resultSubtitle : look.subtitle));
  painter.drawText(QRectF(subtitleLeft, frame.top(), subtitleWidth, frame.height()),
                   Qt::AlignLeft | Qt::AlignVCenter, subtitle);
}

}  // namespace varek
