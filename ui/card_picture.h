// The card's unchanging picture, kept small: it is one colour but for its rounded corners,
// its border, two hairlines and the glow in one corner, so only those are kept as pixels
// (about half of the whole picture's 1.4 MB) and the rest is filled with the colour.
#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>
#include <QRegion>
#include <vector>

namespace varek {

class CardPicture {
 public:
  CardPicture() = default;
  // Keeps of `whole` (which carries its device pixel ratio) the strips, given in points,
  // and the bounding box of every other pixel that differs from the one at `plainAt`.
  CardPicture(const QImage& whole, QPoint plainAt, const std::vector<QRect>& strips);

  bool isNull() const { return size_.isEmpty(); }
  qreal devicePixelRatio() const { return devicePixelRatio_; }
  // Bytes of pixels kept.
  qsizetype bytes() const;

  // Replaces what `painter` holds in `area` (in points) with the picture there.
  void paint(QPainter& painter, const QRect& area) const;

 private:
  struct Piece {
    QRect pixels;  // where in the whole picture, in device pixels
    QImage image;
  };
  QSize size_;  // in device pixels
  qreal devicePixelRatio_ = 1;
  QRgb plain_ = 0;  // premultiplied, as in the picture
  std::vector<Piece> pieces_;
  // Where no piece lies, filled with the plain colour: every byte written costs, and the
  // glow's piece reaches over much of the list.
  QRegion uncovered_;
};

}  // namespace varek
