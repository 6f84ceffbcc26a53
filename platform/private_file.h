// Files that may hold private data (copied texts, settings): read whole, and replaced
// atomically by a file that is never readable by anyone but the owner. Several processes
// (the launcher, "varek run") change the same files, so every change is a read, modify and
// write under a lock that all of them take.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace varek::PrivateFile {

enum class ReadResult { read, missing, failed };

// Reads the whole file into bytes; missing is told apart from unreadable.
ReadResult read(const std::string& path, std::string& bytes);

// Writes all bytes to an open file, going on after interruptions and partial writes.
bool writeAll(int descriptor, std::string_view bytes);

// What a file's metadata says of its version: a replaced or rewritten file has another
// stamp, short of a reused inode holding as many bytes written within one clock tick. Cheap
// enough to ask before deciding whether a file must be read again.
struct Stamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  long long modifiedSeconds = 0;
  long modifiedNanoseconds = 0;
  friend bool operator==(const Stamp&, const Stamp&) = default;
};

// The stamp of the file a path leads to, or nothing when there is none.
std::optional<Stamp> stamp(const std::string& path);

// One change of a file: update() fills in what it found, the change says what to write.
struct Update {
  ReadResult found = ReadResult::missing;
  std::string bytes;  // the file's content when found is read
  // The new content, or nothing to leave the file as it is.
  std::optional<std::string> replacement;
  // Moves the file found aside first (to ".unreadable", then ".unreadable.2", …), so that
  // data which could not be read is kept rather than overwritten.
  bool setAsideFirst = false;

  // Whether the replacement was written; when not, the file stays as it was.
  bool written = false;
  // The file as update() left it: the replacement when written, else the file found.
  std::optional<Stamp> stamp;
};

// Reads the file as it is now and writes what change makes of it, while holding a lock
// ("PATH.lock", beside path) that every update of path takes, so no other process's write
// falls between the read and the write. The replacement goes to a temporary file with mode
// 0600 beside the file a symbolic link leads to, and is synced and renamed over that file,
// so the link stays. change is called exactly once, also when the lock cannot be had (then
// the update is made unlocked rather than lost). change must not update path itself: the
// lock is not shared with the update that holds it.
Update update(const std::string& path, const std::function<void(Update&)>& change);

// Removes the temporary files of writers that were killed while saving (they may hold
// clipboard text), beside path and beside the file a symbolic link at path leads to: only
// regular files of the owner, named like this module's temporary files of path, and old
// enough that no writer can still be busy with them. Takes the lock of update().
void removeStaleTemporaries(const std::string& path);

}  // namespace varek::PrivateFile
