// The launcher's window: a frameless card that floats above every other window, on every
// workspace, out of the taskbar and the pager, and takes the keyboard so the search field
// receives typing at once.
#pragma once

#include <QPoint>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace varek {

class SwayScratchpad;

class VarekPanel : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 740;
  static constexpr int kHeight = 470;

  // The app id on Wayland: sway's rule and the hotkey's binding name the window by it.
  static constexpr const char* kAppId = "zz.orvel.varek";

  explicit VarekPanel(QWidget* parent = nullptr);
  ~VarekPanel() override;

  // The top-left corner of the panel on a screen whose area without panels and docks is
  // visibleFrame: centred horizontally, its middle 60 pixels below the line at 72 % of the
  // height counted from the bottom.
  static QPoint origin(const QRect& visibleFrame);

  // Shows, raises and activates the panel, and returns only once the window is mapped and
  // holds the keyboard focus of the display: keys typed from then on reach the panel.
  // Asks each time whether a compositor runs, as one may start or stop at any time.
  // On sway the window is shown from the scratchpad and focused by sway instead.
  void present();
  // Hides the panel; on sway it goes back to the scratchpad and stays mapped there.
  void dismiss();
  // Whether the panel is shown: on sway, kept mapped in the scratchpad, that is not the
  // same as the window being visible to Qt.
  bool shown() const;
  // On sway, maps the window into the scratchpad ahead of the first opening, so that the
  // first hotkey finds it; elsewhere nothing.
  void prepare();
  // Whether the window stays mapped while hidden (on sway, in the scratchpad): sway shows
  // and focuses it itself, and Qt learns of that later than of the keys typed after it.
  bool keptMapped() const { return sway_ != nullptr; }
  // Whether sway shows the window now, and whether it has the focus there, for a hotkey
  // whose binding shows or hides it before the launcher hears of the press; nothing where
  // the panel is not kept by sway.
  struct CompositorState {
    bool visible = false;
    bool focused = false;
  };
  std::optional<CompositorState> compositorState();
  // Whether the desktop blends the panel with what lies behind it, as of the last opening
  // (before the first, as when the window was made); when it does not, the window is cut to
  // the card's rounded outline instead.
  bool composited() const { return composited_; }

 protected:
  bool event(QEvent* event) override;

 private:
  // Qt's X11 backing store lends the server its pixels in shared memory, and before it
  // paints over pixels it last sent it waits for the server to be done with them: a round
  // trip, which a keystroke's paint would wait for. Waiting at idle, after each frame, takes
  // that round trip off the next keystroke's path.
  void settleAfterFrame();
  // Marks the window to stay on all workspaces and out of the taskbar and the pager. Set
  // once: no window manager takes part in mapping the panel, so none drops the marks when it
  // hides, and each change would cost Qt a round trip to read the states again.
  void markAsPanel();
  void takeKeyboardFocus();
  void rememberActiveWindow();
  void returnFocus();
  // Cuts the window to the card's rounded outline, or makes it whole again.
  void cutToCard(bool cut);
  // Interns the atoms below; leaves them empty without an X11 display.
  void internAtoms();
  // Whether a compositing manager runs on the panel's screen. Other windowing systems than
  // X11 always composite.
  bool compositorRuns() const;
  // Runs the sway command now and, while sway has no window yet (it maps a moment after
  // Qt shows it), again a little later; a newer call replaces a pending one.
  void commandSway(std::function<bool(SwayScratchpad&)> command);

  // Kept only on sway, where the panel's window stays mapped while hidden.
  std::unique_ptr<SwayScratchpad> sway_;
  bool shownOnSway_ = false;
  int swayCommands_ = 0;

  // The EWMH and ICCCM atoms the panel sets and reads; empty without an X11 display.
  std::vector<std::uint32_t> atoms_;
  // The window active before the panel showed (X11), which gets the keyboard back.
  std::uint32_t previousWindow_ = 0;
  bool composited_ = true;
  bool settling_ = false;
};

}  // namespace varek
