// A large desktop of made-up applications for the end-to-end benchmark: XDG desktop
// entries with German and English names, generic names, comments and keywords, some in
// vendor subfolders, some hidden from menus, some settings panes. The same count always
// writes the same files, so figures from different runs compare.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace varek::e2e {

// Writes count entries under applications/ of share (an XDG data folder); false when a
// file could not be written.
bool writeDesktopEntries(const std::filesystem::path& share, std::size_t count);

// The Name of every desktop entry under applications/ of share, one per entry, as a
// line-oriented finder would be given them.
std::vector<std::string> entryNames(const std::filesystem::path& share);

}  // namespace varek::e2e
