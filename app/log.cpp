#include "app/log.h"

#include "sources/private_file.h"

#include <errno.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

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

// Appends to an existing file only. A missing one is created apart with O_EXCL, which
// refuses to follow a dangling symbolic link and create whatever file it points to.
bool append(const std::string& file, const std::string& line) {
  const int descriptor = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (descriptor < 0) return false;
  PrivateFile::writeAll(descriptor, line);
  ::close(descriptor);
  return true;
}

}  // namespace

void Log::write(std::string_view message) const {
  std::string line = timestamp(clock_.now());
  line += ' ';
  line += message;
  line += '\n';

  if (append(file_, line) || errno != ENOENT) return;
  const int descriptor = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
  if (descriptor >= 0) {
    PrivateFile::writeAll(descriptor, line);
    ::close(descriptor);
  } else if (errno == EEXIST) {
    // Another process created it between our two attempts; its line stays, ours follows.
    append(file_, line);
  }
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
