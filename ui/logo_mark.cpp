#include "ui/logo_mark.h"

#include <QPainter>
#include <cmath>

#include "ui/glut.h"

namespace varek {
namespace {

// Every proportion of the mark is a fraction of its side.
constexpr qreal kRingDiameter = 0.78;
constexpr qreal kRingBand = 0.16;  // the band lies inside the circle, not centred on its edge
constexpr qreal kHandleLength = 0.42;
constexpr qreal kHandleThickness = 0.16;
constexpr qreal kHandleLeft = 0.6;
constexpr qreal kHandleTop = 0.72;
constexpr qreal kHandleAngleDegrees = 45;  // clockwise on screen, towards the bottom right
constexpr qreal kHandleTopOpacity = 0.55;
constexpr qreal kHandleBottomOpacity = 0.20;
constexpr qreal kGlowRadius = 0.25;
constexpr qreal kGlowOpacity = 0.70;

// The dark heads-up material over an average desktop, once blurred: the solid stand-in.
const QColor kBackdropFallback = QColor::fromRgbF(0.11f, 0.105f, 0.115f);
// Translucent, the material covers this much; with the 62 % tint over it the card hides
// about 85 % of what lies behind, enough to keep its small text readable on any wallpaper.
constexpr float kTranslucentBackdropOpacity = 0.6f;

QPainterPath ring(qreal size) {
  const qreal diameter = size * kRingDiameter;
  const qreal band = size * kRingBand;
  QPainterPath path;
  path.addEllipse(QRectF(0, 0, diameter, diameter));
  path.addEllipse(QRectF(band, band, diameter - 2 * band, diameter - 2 * band));
  path.setFillRule(Qt::OddEvenFill);
  return path;
}

void paintMark(QPainter& painter, qreal size, qreal devicePixelRatio) {
  const QRectF handle(0, 0, size * kHandleLength, size * kHandleThickness);
  painter.save();
  painter.translate(size * kHandleLeft + handle.width() / 2,
                    size * kHandleTop + handle.height() / 2);
  painter.rotate(kHandleAngleDegrees);
  painter.translate(-handle.center());
  QLinearGradient handleFill(0, 0, 0, handle.height());
  handleFill.setStops({{0.0, white(kHandleTopOpacity)}, {1.0, white(kHandleBottomOpacity)}});
  painter.setPen(Qt::NoPen);
  painter.setBrush(handleFill);
  painter.drawRoundedRect(handle, handle.height() / 2, handle.height() / 2);
  painter.restore();

  const QPainterPath band = ring(size);
  QColor glowColor = Glut::ember();
  glowColor.setAlphaF(static_cast<float>(kGlowOpacity));
  const Glow ringGlow = glow(band, glowColor, size * kGlowRadius, devicePixelRatio);
  painter.drawImage(ringGlow.origin, ringGlow.image);
  painter.fillPath(band, Glut::gradient());
}

}  // namespace

LogoMark::LogoMark(qreal markSize, QWidget* parent)
    : QWidget(parent), markSize_(markSize), glowReach_(varek::glowReach(markSize * kGlowRadius)) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  resize(sizeHint());
}

void LogoMark::moveMark(QPoint topLeft) { move(topLeft - QPoint(glowReach_, glowReach_)); }

QSize LogoMark::sizeHint() const {
  const int side = static_cast<int>(std::ceil(markSize_)) + 2 * glowReach_;
  return {side, side};
}

void LogoMark::paintEvent(QPaintEvent*) {
  const qreal devicePixelRatio = devicePixelRatioF();
  if (rendered_.isNull() || rendered_.devicePixelRatio() != devicePixelRatio) {
    rendered_ = QPixmap(size() * devicePixelRatio);
    rendered_.setDevicePixelRatio(devicePixelRatio);
    rendered_.fill(Qt::transparent);
    QPainter painter(&rendered_);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(glowReach_, glowReach_);
    paintMark(painter, markSize_, devicePixelRatio);
  }
  QPainter(this).drawPixmap(0, 0, rendered_);
}

void VisualEffect::paint(QPainter& painter, const QPainterPath& area) const {
  QColor backdrop = kBackdropFallback;
  if (translucent) backdrop.setAlphaF(kTranslucentBackdropOpacity);
  painter.fillPath(area, backdrop);
}

}  // namespace varek
