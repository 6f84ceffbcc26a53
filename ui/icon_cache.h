// The pictures at the left of the rows, ready to draw: the desktop's icon for a file, a
// folder or an application's desktop entry, and the coloured tiles of symbol and text
// icons. Each is made once per size and kept, so scrolling and typing never ask the icon
// theme again; the least recently used entries go beyond kLimit.
#pragma once

#include <QMimeDatabase>
#include <QPixmap>
#include <QString>
#include <cstddef>
#include <list>
#include <string>
#include <unordered_map>

#include "search/item.h"

namespace varek {

class IconCache {
 public:
  // Enough for every row of a long clipboard history plus the applications in view.
  static constexpr std::size_t kLimit = 400;

  // The one cache of the interface; main thread only.
  static IconCache& shared();

  // The icon filling a square of `size` × `size` points at the given device pixel ratio.
  // Symbol and text icons come as their tile, inset within the square; a file icon fills it.
  // Never a null or empty picture: what the icon theme lacks is drawn.
  QPixmap icon(const Item::Icon& icon, int size, qreal devicePixelRatio);
  std::size_t size() const { return entries_.size(); }

  IconCache();

 private:
  QPixmap fileIcon(const std::string& path, int size, qreal devicePixelRatio);

  using Entry = std::pair<std::string, QPixmap>;
  std::list<Entry> entries_;  // most recently used first
  std::unordered_map<std::string, std::list<Entry>::iterator> index_;
  // The pictures of desktop entries by the icon they name, at a size; the same pixels as
  // their entries in entries_.
  std::unordered_map<QString, QPixmap> namedIcons_;
  QMimeDatabase mimeTypes_;
};

}  // namespace varek
