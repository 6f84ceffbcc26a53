// The desktop's general clipboard, polled by the clipboard history and written by the
// copy and paste actions.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varek {

class Pasteboard {
 public:
  // One copy, all its parts read from the program that made it.
  struct Snapshot {
    std::vector<std::string> types;
    std::vector<std::string> filePaths;  // as filePaths() gives them
    // Read only when there are no files: the text beside a file list is just their names.
    std::optional<std::string> text;
  };
  // Says from a type alone that the content must not even be read (a concealed copy).
  using Withholds = std::function<bool(std::string_view type)>;

  virtual ~Pasteboard() = default;

  // Rises by at least one on every change of the clipboard, by anyone, this process too.
  virtual std::int64_t changeCount() const = 0;
  // False where the desktop shows the clipboard only to the program with the focus: then
  // a copy made meanwhile is seen (and counted) when the panel next gains the focus.
  virtual bool recordsWithoutFocus() const { return true; }

  // Each of these reads the clipboard anew, so two of them may see two different copies.
  // The type identifiers (MIME types) of the current content; empty when there is none.
  virtual std::vector<std::string> types() const = 0;
  // Absolute paths of the files on the clipboard, in order, percent-decoded; empty when
  // the content is not a list of local files.
  virtual std::vector<std::string> filePaths() const = 0;
  // The plain-text content, or nothing (an image alone has none).
  virtual std::optional<std::string> text() const = 0;

  // Types, files and text of one and the same copy; nothing when that cannot be made sure
  // (the clipboard changed hands during the reads, or its owner did not answer in time).
  // When `withholds` holds for one of the types, the snapshot has the types only. This
  // default suits a clipboard that cannot change while its reader runs.
  virtual std::optional<Snapshot> snapshot(const Withholds& withholds) const {
    Snapshot snapshot{.types = types(), .filePaths = {}, .text = std::nullopt};
    if (std::any_of(snapshot.types.begin(), snapshot.types.end(), withholds)) return snapshot;
    snapshot.filePaths = filePaths();
    if (snapshot.filePaths.empty()) snapshot.text = text();
    return snapshot;
  }

  // Replaces the whole content with text; the change count rises before this returns.
  virtual void setText(const std::string& text) = 0;
};

}  // namespace varek
