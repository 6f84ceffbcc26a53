// The desktop's general clipboard (the X11 CLIPBOARD selection) through Qt. The primary
// selection is left alone: selecting text is not copying it.
#pragma once

#include <QObject>
#include <cstdint>

#include "platform/pasteboard.h"

namespace varek {

class QtPasteboard : public Pasteboard {
 public:
  // Needs a QGuiApplication; without one the clipboard reads as empty and stays unchanged.
  QtPasteboard();

  std::int64_t changeCount() const override { return changeCount_; }
  std::vector<std::string> types() const override;
  // Only the local files of a mixed list: other addresses cannot be shown as files.
  std::vector<std::string> filePaths() const override;
  std::optional<std::string> text() const override;
  void setText(const std::string& text) override;

 private:
  std::int64_t changeCount_ = 0;
  // Ends the dataChanged connection when this pasteboard goes, even if Qt's clipboard stays.
  QObject connections_;
};

}  // namespace varek
