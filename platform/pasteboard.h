// The desktop's general clipboard, polled by the clipboard history and written by the
// copy and paste actions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varek {

class Pasteboard {
 public:
  virtual ~Pasteboard() = default;

  // Rises by at least one on every change of the clipboard, by anyone, this process too.
  virtual std::int64_t changeCount() const = 0;
  // The type identifiers (MIME types) of the current content; empty when there is none.
  virtual std::vector<std::string> types() const = 0;
  // Absolute paths of the files on the clipboard, in order, percent-decoded; empty when
  // the content is not a list of local files.
  virtual std::vector<std::string> filePaths() const = 0;
  // The plain-text content, or nothing (an image alone has none).
  virtual std::optional<std::string> text() const = 0;
  // Replaces the whole content with text; the change count rises before this returns.
  virtual void setText(const std::string& text) = 0;
};

}  // namespace varek
