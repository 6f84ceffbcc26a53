// How the global hotkey reaches the desktop: each session type has its own way to make one
// key combination reach the launcher whichever application has focus (a grab on the X11
// root window, a compositor's binding, a desktop's shortcut service). Hotkey keeps the
// stored combination and its rules, and hands the binding to one of these.
#pragma once

#include <QKeyCombination>
#include <functional>
#include <memory>
#include <string>
#include <utility>

namespace varek {

class KeyBinder {
 public:
  // What the last bind came to.
  enum class Status {
    off,           // nothing bound yet, or released
    registered,    // bound: presses arrive
    taken,         // another client or the desktop's own settings hold the combination
    refused,       // not a usable hotkey (see Hotkey::refusal())
    missingKey,    // the keyboard layout has no key for it
    noDisplay,     // no connection to the X server to grab on
    noService,     // the desktop's binding service (sway's IPC, D-Bus) did not answer
    needsConsent,  // the desktop can hold it, once the user agrees to have it written there
    unsupported,   // this desktop offers no way for a program to bind a key
  };

  virtual ~KeyBinder();

  // Releases any earlier binding, then binds this combination. The combination has passed
  // Hotkey::refusal() already.
  virtual Status bind(QKeyCombination combination) = 0;
  // Releases the binding, so that another program or the next bind may have the keys.
  virtual void unbind() = 0;

  // Where the binding lives in the user's own settings (GNOME's keyboard shortcuts), it is
  // written there only once the user agrees, and removed only when asked.
  enum class Consent { notNeeded, asked, given };
  virtual Consent consent() const { return Consent::notNeeded; }
  // Writes the combination into the settings; false when it could not (taken meanwhile).
  virtual bool agree(QKeyCombination) { return false; }
  virtual void withdraw() {}

  // Called once per press of the bound combination, on the main thread.
  void setOnPress(std::function<void()> onPress) { onPress_ = std::move(onPress); }

 protected:
  void pressed() const {
    if (onPress_) onPress_();
  }

 private:
  std::function<void()> onPress_;
};

struct KeyBinderOptions {
  // On sway, the command text the binding runs; its binding events are the presses. By
  // itself the binding needs to do nothing ("nop"): the event is all the launcher needs.
  // sway reports a run only when every command in the text succeeded.
  std::string swayCommand = "nop varek toggle";
};

// The binder of this session: the X11 grab outside Wayland; on Wayland sway's IPC, else
// the desktop's shortcut service (the GlobalShortcuts portal, KDE's KGlobalAccel, GNOME's
// custom keybindings), else one that reports the desktop unsupported.
std::unique_ptr<KeyBinder> makeKeyBinder(const KeyBinderOptions& options = {});

}  // namespace varek
