// The whole Linux desktop backend, built once and handed to the core as one Platform.
// Needs a Qt application object; without a display, the clipboard and the windows
// report nothing and everything else works.
#pragma once

#include <memory>

#include "app/log.h"
#include "platform/platform.h"

namespace varek {

class X11Desktop;

class LinuxPlatform {
 public:
  struct Options {
    // Watch the X11 clipboard (needs a QGuiApplication); a command line has none.
    bool clipboard = true;
    // Load slow indexes (a large dictionary) in the background at start, for a process
    // that lives on; a command line is done before they would be used.
    bool preload = true;
  };

  explicit LinuxPlatform(Options options);
  ~LinuxPlatform();

  Platform platform();
  Log& log() { return *log_; }

 private:
  std::unique_ptr<Clock> clock_;
  std::unique_ptr<Paths> paths_;
  std::unique_ptr<Log> log_;
  std::unique_ptr<Scheduler> scheduler_;
  std::unique_ptr<Defaults> defaults_;
  std::unique_ptr<Pasteboard> pasteboard_;
  std::unique_ptr<X11Desktop> desktop_;
  std::unique_ptr<Workspace> workspace_;
  std::unique_ptr<WindowServer> windowServer_;
  std::unique_ptr<FileIndex> fileIndex_;
  std::unique_ptr<Dictionary> dictionary_;
  std::unique_ptr<SystemActions> systemActions_;
  std::unique_ptr<AppScanner> appScanner_;
};

}  // namespace varek
