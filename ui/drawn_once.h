// Parts of the card that look the same on every repaint (the selected row's plate, the key
// hints, the mode tabs) are drawn once into Qt's pixmap cache and copied from there:
// shaping their texts or filling their rounded outlines anew cost more than the rest of
// a keystroke's drawing.
#pragma once

#include <QPainter>
#include <QString>
#include <functional>

namespace varek {

// Draws the picture that `draw` paints (with antialiasing, its top-left corner at 0, 0,
// within `size`) with its top-left corner at `at`. The picture is kept under `key` and the
// painter's device pixel ratio. On a device that keeps texts and shapes as they are drawn
// (a printer, a recorder) it is drawn directly.
void drawOnce(QPainter& painter, QPointF at, const QString& key, QSizeF size,
              const std::function<void(QPainter&)>& draw);

}  // namespace varek
