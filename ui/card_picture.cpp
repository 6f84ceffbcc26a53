#include "ui/card_picture.h"

#include <algorithm>

namespace varek {
namespace {

QRect toPixels(const QRect& points, qreal devicePixelRatio) {
  return QRectF(QPointF(points.topLeft()) * devicePixelRatio,
                QSizeF(points.size()) * devicePixelRatio)
      .toAlignedRect();
}

}  // namespace

CardPicture::CardPicture(const QImage& whole, QPoint plainAt, const std::vector<QRect>& strips)
    : size_(whole.size()), devicePixelRatio_(whole.devicePixelRatio()) {
  const QImage image = whole.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  const QRect bounds = image.rect();
  const QPoint plainPixel = toPixels(QRect(plainAt, QSize(1, 1)), devicePixelRatio_).topLeft();
  plain_ = reinterpret_cast<const QRgb*>(image.constScanLine(plainPixel.y()))[plainPixel.x()];
  std::vector<QRect> kept;
  for (const QRect& strip : strips) kept.push_back(toPixels(strip, devicePixelRatio_) & bounds);
  // Everything else that is not the plain colour goes into one box.
  QRect rest;
  for (int y = 0; y < image.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      if (line[x] == plain_) continue;
      const QPoint point(x, y);
      if (std::none_of(kept.begin(), kept.end(),
                       [&](const QRect& strip) { return strip.contains(point); })) {
        rest |= QRect(point, QSize(1, 1));
      }
    }
  }
  if (!rest.isEmpty()) kept.push_back(rest);
  for (const QRect& pixels : kept) {
    if (pixels.isEmpty()) continue;
    QImage piece = image.copy(pixels);
    piece.setDevicePixelRatio(1);  // drawn in device pixels
    pieces_.push_back({pixels, std::move(piece)});
  }
}

qsizetype CardPicture::bytes() const {
  qsizetype total = 0;
  for (const Piece& piece : pieces_) total += piece.image.sizeInBytes();
  return total;
}

void CardPicture::paint(QPainter& painter, const QRect& area) const {
  const QRect pixels = toPixels(area, devicePixelRatio_) & QRect(QPoint(), size_);
  if (pixels.isEmpty()) return;
  painter.save();
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  // Drawn in device pixels, so each piece is copied without scaling.
  painter.scale(1 / devicePixelRatio_, 1 / devicePixelRatio_);
  painter.fillRect(pixels, QColor::fromRgba(qUnpremultiply(plain_)));
  for (const Piece& piece : pieces_) {
    const QRect shown = piece.pixels & pixels;
    if (!shown.isEmpty()) {
      painter.drawImage(shown.topLeft(), piece.image, shown.translated(-piece.pixels.topLeft()));
    }
  }
  painter.restore();
}

}  // namespace varek
