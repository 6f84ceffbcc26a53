// The launcher's window: a frameless card that floats above every other window, on every
// workspace, out of the taskbar and the pager, and takes the keyboard so the search field
// receives typing at once.
#pragma once

#include <QPoint>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <vector>

namespace varek {

class VarekPanel : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 740;
  static constexpr int kHeight = 470;

  explicit VarekPanel(QWidget* parent = nullptr);

  // The top-left corner of the panel on a screen whose area without panels and docks is
  // visibleFrame: centred horizontally, its middle 60 pixels below the line at 72 % of the
  // height counted from the bottom.
  static QPoint origin(const QRect& visibleFrame);

  // Shows, raises and activates the panel, and returns only once the window is mapped and
  // holds the keyboard focus of the display: keys typed from then on reach the panel.
  // Asks each time whether a compositor runs, as one may start or stop at any time.
  void present();
  // Whether the desktop blends the panel with what lies behind it; when it does not, the
  // window is cut to the card's rounded outline instead.
  bool composited() const { return composited_; }

 private:
  // Asks the window manager to keep the window on all workspaces and out of the taskbar
  // and the pager. Set before each mapping, since the manager drops the state on unmapping.
  void markAsPanel();
  void takeKeyboardFocus();
  // Cuts the window to the card's rounded outline, or makes it whole again.
  void cutToCard(bool cut);
  // Whether a compositing manager runs on the panel's screen. Other windowing systems than
  // X11 always composite.
  bool compositorRuns() const;

  // The EWMH and ICCCM atoms the panel sets and reads; empty without an X11 display.
  std::vector<std::uint32_t> atoms_;
  bool composited_ = true;
};

}  // namespace varek
