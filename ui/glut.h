// The launcher's look in one place: the ember palette (Glut), the desktop's named accent
// colours, the soft glow the logo and the accent bar carry, and the system font at the
// sizes the views are drawn in. All of it is constant once built.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainterPath>
#include <QPointF>

#include "search/item.h"

namespace varek {

namespace Glut {

// A warm orange, the colour of every accent.
const QColor& ember();
// An orange red, the hot end of the gradient.
const QColor& flame();
// Light amber, ember, flame: from the top-left to the bottom-right corner of whatever
// shape it fills (object bounding mode), so one gradient serves every size.
const QLinearGradient& gradient();

}  // namespace Glut

// The sRGB shade of a named desktop colour, in its dark-appearance variant because the
// panel is always dark.
QColor systemColor(SystemColor color);

enum class FontDesign { standard, rounded, monospaced };

// The desktop's font at a size in points of the design, one point per device-independent
// pixel. Linux desktops have no rounded design; it falls back to the standard one.
QFont systemFont(qreal size, QFont::Weight weight, FontDesign design = FontDesign::standard);

// White at the given opacity, the one colour of the panel's text and fills.
QColor white(qreal opacity);

// A soft glow of `color` around `shape`, like a shadow without offset: the shape's coverage
// blurred with a Gaussian of standard deviation radius / 2. The image carries the device
// pixel ratio; `origin` is where its top-left corner lies in the shape's coordinates.
struct Glow {
  QImage image;
  QPointF origin;
};
Glow glow(const QPainterPath& shape, const QColor& color, qreal radius, qreal devicePixelRatio);
// How far such a glow reaches beyond its shape, in whole points: the image's margin.
int glowReach(qreal radius);

}  // namespace varek
