#include "platform/log.h"

#include "search/unicode.h"
#include "platform/private_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

namespace varek {
namespace {

// Seconds from the Unix epoch to 2001-01-01T00:00:00Z, the origin of every stored time.
constexpr double kUnixSecondsAt2001 = 978'307'200;
// A clock gone wild must still give a line; beyond about ±3000 years from 2001 the year
// no longer fits the stamp's layout, so times are held inside that range.
constexpr double kLargestOffset = 1e11;
// Only the launcher's user may read what it logs; the file names files and commands.
constexpr mode_t kFileMode = 0600;
// Room for six fields of any int value, so no stamp is ever cut short.
constexpr std::size_t kStampCapacity = 80;
// Beside the log: the file every writer locks while it appends, and the older log.
constexpr const char* kLockSuffix = ".lock";
constexpr const char* kOlderSuffix = ".1";
// Ends a message that was cut, so a reader knows there was more.
constexpr std::string_view kCutMark = "…";
// "\x1B" and "\u2028" with their terminating NUL; room for any unsigned value, so that
// the compiler can see no escape is ever cut short.
constexpr std::size_t kEscapeCapacity = 16;

// Holds the exclusive lock on the file for its lifetime; closing the file releases it.
// O_NOFOLLOW: a planted link must not make us create a file somewhere else.
class LockFile {
 public:
  explicit LockFile(const std::string& path)
      : descriptor_(::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kFileMode)) {
    while (descriptor_ >= 0 && ::flock(descriptor_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      ::close(descriptor_);
      descriptor_ = -1;
    }
  }
  ~LockFile() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;
  bool held() const { return descriptor_ >= 0; }

 private:
  int descriptor_;
};

// Appends to an existing file only. A missing one is created apart with O_EXCL, which
// refuses to follow a dangling symbolic link and create whatever file it points to.
bool append(const std::string& file, const std::string& line) {
  const int descriptor = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (descriptor < 0) return false;
  PrivateFile::writeAll(descriptor, line);
  ::close(descriptor);
  return true;
}

// Called under the lock, so no other writer checks the size or appends in between. Every
// writer opens the path afresh for each line, so after a rotation all of them write to
// the new file.
void rotateIfFull(const std::string& file, std::size_t lineBytes) {
  struct stat status;
  if (::stat(file.c_str(), &status) != 0 || status.st_size == 0) return;
  if (static_cast<std::size_t>(status.st_size) + lineBytes <= Log::kRotationBytes) return;
  ::rename(file.c_str(), (file + kOlderSuffix).c_str());
}

// Appends one character, its control characters and line separators as escapes; whether
// it was escaped. Such a character stands alone, as characters never join to a control.
bool appendPrintable(std::string& text, std::string_view character) {
  bool escaped = false;
  for (const char32_t scalar : unicode::scalars(character)) {
    char escape[kEscapeCapacity];
    if (scalar == U'\n' || scalar == U'\r' || scalar == U'\t') {
      text += '\\';
      text += scalar == U'\n' ? 'n' : scalar == U'\r' ? 'r' : 't';
    } else if (scalar < 0x20 || scalar == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(scalar));
      text += escape;
    } else if ((scalar >= 0x80 && scalar <= 0x9F) || scalar == 0x2028 || scalar == 0x2029) {
      // The C1 controls (a terminal reads U+009B as the start of an escape sequence) and
      // the Unicode line and paragraph separators, at which some viewers break lines.
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(scalar));
      text += escape;
    } else {
      unicode::appendUtf8(text, scalar);
      continue;
    }
    escaped = true;
  }
  return escaped;
}

}  // namespace

void Log::write(std::string_view message) const {
  std::string line = timestamp(clock_.now());
  line += ' ';
  line += printable(message);
  line += '\n';

  // Without the lock (it cannot be made in this folder) the line is still appended; only
  // rotating is left to a writer that holds it.
  const LockFile lock(file_ + kLockSuffix);
  if (lock.held()) rotateIfFull(file_, line.size());
  if (append(file_, line) || errno != ENOENT) return;
  const int descriptor = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
  if (descriptor >= 0) {
    PrivateFile::writeAll(descriptor, line);
    ::close(descriptor);
  } else if (errno == EEXIST) {
    // A writer without the lock created it between our two attempts; ours follows.
    append(file_, line);
  }
}

std::string Log::printable(std::string_view message) {
  // Only what can be kept is looked at, so a message of megabytes costs no more than this.
  const std::string_view head = unicode::leadingCharacters(message, kMessageCharacters);
  const std::vector<std::size_t> boundaries = unicode::characterBoundaries(head);
  std::string text;
  std::size_t characters = 0;
  // The text's size while it still leaves room for the cut mark; an escape is kept whole.
  std::size_t cutSize = 0;
  for (std::size_t index = 0; index + 1 < boundaries.size(); ++index) {
    const std::size_t before = text.size();
    const bool escaped = appendPrintable(
        text, head.substr(boundaries[index], boundaries[index + 1] - boundaries[index]));
    characters += escaped ? text.size() - before : 1;
    if (characters < kMessageCharacters) cutSize = text.size();
  }
  if (head.size() == message.size() && characters <= kMessageCharacters) return text;
  text.resize(cutSize);
  text += kCutMark;
  return text;
}

std::string Log::timestamp(double time) {
  if (std::isnan(time)) time = 0;
  const double clamped = std::clamp(std::floor(time), -kLargestOffset, kLargestOffset);
  const auto unixTime = static_cast<std::time_t>(clamped + kUnixSecondsAt2001);
  std::tm parts{};
  if (::gmtime_r(&unixTime, &parts) == nullptr) return "0000-00-00T00:00:00Z";
  char stamp[kStampCapacity];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return stamp;
}

}  // namespace varek
