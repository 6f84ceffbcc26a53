// Owns the launcher's panel and the search model behind it: shows the panel under the
// pointer with a short fade, hides it again, and turns the keys the search field leaves
// alone (arrows, Return, Escape, the mode and copy shortcuts) into model operations.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPoint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/log.h"
#include "platform/platform.h"
#include "search/search_model.h"

class QKeyEvent;
class QPropertyAnimation;
class QWidget;

namespace varek {

class RootView;
class VarekPanel;

class PanelController : public QObject {
  Q_OBJECT

 public:
  PanelController(const Platform& platform, Log& log, QObject* parent = nullptr);
  ~PanelController() override;

  SearchModel& model();
  void show();
  void hide();
  // Hides a visible panel, shows a hidden one: the "toggle" signal, and the hotkey where
  // the desktop leaves the panel to the launcher.
  void toggle();
  // The hotkey. On sway its binding shows or hides the panel before the launcher hears of
  // the press, and the panel follows what sway did; elsewhere the same as toggle().
  void hotkeyPressed();
  bool isVisible() const;
  // Runs the job once the opening under way has written its line, at once when none is:
  // what a caller logs about the panel it just opened reads after the opening itself.
  void afterOpening(std::function<void()> job);
  // Lays out and paints the panel and runs the first searches once, off-screen and
  // unseen, so the first real opening does not pay for them.
  void warmUp();
  QWidget& panel();
  // Opens the launcher's settings at this point of the screen, where the panel stood: the
  // row "Varek-Einstellungen" calls it once the panel has hidden. Without it, no such row.
  void setShowSettings(std::function<void(QPoint)> show);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Whether the key was used up here; the others go on to the search field.
  bool handle(const QKeyEvent& event);
  // Acts on the selected row and logs what was done with it.
  void activate(SearchModel::Action action);
  void installKeys();
  // Writes how long the opening took, up to now, then what waited for that line.
  void logOpening();
  // Ends the wait for the first frame, running what waited for it.
  void stopAwaitingFirstFrame();
  void drawOffscreen();

  std::shared_ptr<SearchModel> model_;
  std::unique_ptr<VarekPanel> panel_;
  RootView* rootView_;        // owned by the panel
  QPropertyAnimation* fade_;  // owned by the panel
  Log& log_;
  // Wayland lets no client set its window's opacity.
  const bool fades_;
  // VAREK_TIMINGS=1: each repaint after keys logs how long ago the first of them arrived.
  const bool logsKeystrokes_;
  QElapsedTimer keystroke_;
  // Set while the panel is shown: keys of the panel's window pass through handle().
  bool keysInstalled_ = false;
  // From show() until the first frame is on the screen.
  QElapsedTimer opening_;
  bool awaitingFirstFrame_ = false;
  std::vector<std::function<void()>> afterOpening_;
  // The window has been active since it was last shown, so losing that means another
  // window took the focus (and not a stale deactivation of an earlier opening).
  bool activeSinceShow_ = false;
};

}  // namespace varek
