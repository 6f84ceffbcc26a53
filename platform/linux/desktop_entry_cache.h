// The last reading of the desktop entries, kept in a file for the next process: reading
// ten thousand entries takes a GKeyFile parse each, while telling whether any of them
// changed takes a stat each. A cache belongs to one fingerprint of everything the reading
// depends on; any other fingerprint, or a file that does not read back whole, means read
// the entries again. Nothing in it is private (it repeats installed files), and a lost or
// broken cache costs one reading.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/linux/desktop_entries.h"

namespace varek::DesktopEntryCache {

// Changes whenever a reading could: the folders, PATH, the named desktops, the languages,
// each entry file's id, path, size, change time and inode, and each PATH folder's change
// time (installing or removing a program decides TryExec and Exec). A program replaced in
// a folder outside PATH that an entry names by its full path is not seen.
std::string fingerprint(const DesktopEnvironment& environment, const DesktopEntryFiles& files);

// The entries cached under this fingerprint; nothing when the file is missing, another
// fingerprint's, or not whole.
std::optional<std::vector<DesktopEntry>> load(const std::string& file,
                                              const std::string& fingerprint);

// Replaces the file atomically (a complete file or the old one, also against another
// process storing at the same moment), making its folder; a failure only costs the next
// process a reading.
void store(const std::string& file, const std::string& fingerprint,
           const std::vector<DesktopEntry>& entries);

}  // namespace varek::DesktopEntryCache
