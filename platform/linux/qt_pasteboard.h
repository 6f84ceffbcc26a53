// The desktop's general clipboard (the X11 CLIPBOARD selection) through Qt. The primary
// selection is left alone: selecting text is not copying it.
#pragma once

#include <QObject>
#include <cstdint>
#include <memory>

#include "platform/pasteboard.h"

namespace varek {

class X11Clipboard;

class QtPasteboard : public Pasteboard {
 public:
  // Needs a QGuiApplication; without one the clipboard reads as empty and stays unchanged.
  QtPasteboard();
  ~QtPasteboard() override;

  std::int64_t changeCount() const override { return changeCount_; }
  // Only under X11: a Wayland compositor shows the clipboard to the focused window alone.
  bool recordsWithoutFocus() const override { return !focusOnly_; }
  std::vector<std::string> types() const override;
  // Only the local files of a mixed list: other addresses cannot be shown as files.
  std::vector<std::string> filePaths() const override;
  std::optional<std::string> text() const override;
  // On X11 read by our own requests to the owner, which tell whether it changed midway;
  // elsewhere composed of the reads above.
  std::optional<Snapshot> snapshot(const Withholds& withholds) const override;
  void setText(const std::string& text) override;

 private:
  std::int64_t changeCount_ = 0;
  bool focusOnly_ = false;
  bool ownCopyCounted_ = false;  // the content is this process's copy, already counted
  // Ends the dataChanged connection when this pasteboard goes, even if Qt's clipboard stays.
  QObject connections_;
  std::unique_ptr<X11Clipboard> x11_;  // only under X11
};

}  // namespace varek
