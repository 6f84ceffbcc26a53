// The launcher's mark and the backdrop behind its card. LogoMark draws a glowing ember
// ring with a handle, a stylised magnifying glass, at the left of the search field;
// VisualEffect paints the backdrop that stands where a blurred translucent window
// background would be.
#pragma once

#include <QPainterPath>
#include <QPixmap>
#include <QWidget>

namespace varek {

class LogoMark : public QWidget {
 public:
  // A mark of markSize × markSize points. The widget is larger by the glow's reach on every
  // side, so the glow is not cut off at the square; place it with moveMark().
  explicit LogoMark(qreal markSize, QWidget* parent = nullptr);

  qreal markSize() const { return markSize_; }
  // How far the glow reaches beyond the mark's square, in points.
  int glowReach() const { return glowReach_; }
  // Moves the widget so that the mark's square has its top-left corner at `topLeft` in the
  // parent's coordinates.
  void moveMark(QPoint topLeft);

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  qreal markSize_;
  int glowReach_;
  QPixmap rendered_;  // the mark with its glow, drawn once per device pixel ratio
};

// The card's backdrop, the dark material behind the panel's tint. Under a compositor it
// lets the desktop show through, dimmed (X11 has no common way to ask for a blur); without
// one, translucency would only show black, so it is the solid colour the blurred material
// averages to.
struct VisualEffect {
  bool translucent = false;

  void paint(QPainter& painter, const QPainterPath& area) const;
};

}  // namespace varek
