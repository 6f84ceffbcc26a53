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
    : size_(whole.size()), devicePixelRatio_(whole.devicePixelRatio()), uncovered_(whole.rect()) {
  // An opaque picture stays opaque: copied into an opaque window, a piece is then copied
  // line by line without converting a pixel.
  const QImage image = whole.convertToFormat(
      whole.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
  const QRect bounds = image.rect();
  const QPoint plainPixel = toPixels(QRect(plainAt, QSize(1, 1)), devicePixelRatio_).topLeft();
  plain_ = reinterpret_cast<const QRgb*>(image.constScanLine(plainPixel.y()))[plainPixel.x()];
  std::vector<QRect> kept;
  // Which pixels the strips keep, one byte each: the scan below runs at every start.
  std::vector<char> covered(static_cast<std::size_t>(image.width()) * image.height());
  for (const QRect& strip : strips) {
    const QRect pixels = toPixels(strip, devicePixelRatio_) & bounds;
    kept.push_back(pixels);
    for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
      char* row = covered.data() + static_cast<std::size_t>(y) * image.width();
      std::fill(row + pixels.left(), row + pixels.right() + 1, char{1});
    }
  }
  // Everything else that is not the plain colour goes into one box.
  int left = image.width();
  int top = image.height();
  int right = -1;
  int bottom = -1;
  for (int y = 0; y < image.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    const char* row = covered.data() + static_cast<std::size_t>(y) * image.width();
    for (int x = 0; x < image.width(); ++x) {
      if (line[x] == plain_ || row[x]) continue;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  }
  const QRect rest = right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
  if (!rest.isEmpty()) kept.push_back(rest);
  for (const QRect& pixels : kept) {
    if (pixels.isEmpty()) continue;
    QImage piece = image.copy(pixels);
    piece.setDevicePixelRatio(1);  // drawn in device pixels
    pieces_.push_back({pixels, std::move(piece)});
    uncovered_ -= pixels;
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
  // Within the area alone the painter clips by one rectangle, which it does at the speed of
  // a copy; clipping by a region of several runs every pixel through a slower path.
  painter.setClipRect(area, Qt::IntersectClip);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  // Drawn in device pixels, so each piece is copied without scaling.
  painter.scale(1 / devicePixelRatio_, 1 / devicePixelRatio_);
  const QColor colour = QColor::fromRgba(qUnpremultiply(plain_));
  const QRegion plain = uncovered_ & pixels;
  for (const QRect& rect : plain) painter.fillRect(rect, colour);
  for (const Piece& piece : pieces_) {
    const QRect shown = piece.pixels & pixels;
    if (!shown.isEmpty()) {
      painter.drawImage(shown.topLeft(), piece.image, shown.translated(-piece.pixels.topLeft()));
    }
  }
  painter.restore();
}

}  // namespace varek
