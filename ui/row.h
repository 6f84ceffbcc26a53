// One result row of the list, painted: icon, title, subtitle (or the request for a second
// Return), kind label, and for the selected row a highlight with an ember accent bar.
#pragma once

#include <QPainter>

#include "search/item.h"

namespace varek {

struct Row {
  // A calculator result is shown large, so its row is taller.
  static constexpr int kHeight = 46;
  static constexpr int kCalculatorHeight = 58;

  const Item& item;
  bool selected;    // this is the model's selected row
  bool confirming;  // the row waits for a second Return

  static int height(Item::Kind kind) {
    return kind == Item::Kind::calc ? kCalculatorHeight : kHeight;
  }
  // Draws the row into `frame`, which is height(item.kind) points high.
  void paint(QPainter& painter, const QRectF& frame) const;

  // How far right the icon and texts reach in `frame`, and where the kind label begins:
  // between them a row draws nothing but its plate.
  struct Extent {
    qreal textsRight;
    qreal kindLeft;
  };
  Extent extent(const QRectF& frame) const;
};

}  // namespace varek
