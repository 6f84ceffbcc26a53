// Files that may hold private data (copied texts, settings): read whole, and replaced
// atomically by a file that is never readable by anyone but the owner.
#pragma once

#include <string>
#include <string_view>

namespace varek::PrivateFile {

enum class ReadResult { read, missing, failed };

// Reads the whole file into bytes; missing is told apart from unreadable.
ReadResult read(const std::string& path, std::string& bytes);

// Writes all bytes to an open file, going on after interruptions and partial writes.
bool writeAll(int descriptor, std::string_view bytes);

struct WriteOptions {
  // Moves the existing file aside first (to ".unreadable", then ".unreadable.2", …), so
  // that data which could not be read is kept rather than overwritten.
  bool setAsideFirst = false;
};

// Replaces the file with bytes: a temporary file is created beside it with mode 0600
// before anything is written, synced, then renamed over it. On failure the old file
// stays as it was and false is returned.
bool write(const std::string& path, const std::string& bytes, WriteOptions options = {});

}  // namespace varek::PrivateFile
