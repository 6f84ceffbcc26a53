#include "sources/private_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace varek::PrivateFile {
namespace {

constexpr mode_t kFileMode = 0600;
// Appended to the file's name when a file that could not be read is set aside.
constexpr const char* kUnreadableSuffix = ".unreadable";
// Earlier set-aside files are never replaced; past this many numbered ones the writer
// gives up rather than destroy one more unreadable file.
constexpr int kMaxSetAsideFiles = 1000;

// Moves the file to the first free name beside it; true when nothing is left to move.
bool setAside(const std::string& file) {
  for (int number = 1; number <= kMaxSetAsideFiles; ++number) {
    std::string target = file + kUnreadableSuffix;
    if (number > 1) target += "." + std::to_string(number);
    struct stat existing;
    if (::lstat(target.c_str(), &existing) == 0 || errno != ENOENT) continue;
    if (::rename(file.c_str(), target.c_str()) == 0) return true;
    return errno == ENOENT;
  }
  return false;
}

}  // namespace

bool write(const std::string& file, const std::string& bytes, WriteOptions options) {
  std::string temporary = file + ".XXXXXX";
  const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (descriptor < 0) return false;
  bool written = writeAll(descriptor, bytes) && ::fsync(descriptor) == 0;
  written = ::close(descriptor) == 0 && written;
  if (!written || (options.setAsideFirst && !setAside(file)) ||
      ::rename(temporary.c_str(), file.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  ::chmod(file.c_str(), kFileMode);
  return true;
}

bool writeAll(int descriptor, std::string_view bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t result = ::write(descriptor, bytes.data() + written, bytes.size() - written);
    if (result < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    written += static_cast<std::size_t>(result);
  }
  return true;
}

ReadResult read(const std::string& path, std::string& bytes) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return errno == ENOENT ? ReadResult::missing : ReadResult::failed;
  constexpr std::size_t kChunk = 1 << 16;
  std::string chunk(kChunk, '\0');
  bool complete = false;
  while (true) {
    const ssize_t result = ::read(descriptor, chunk.data(), chunk.size());
    if (result < 0 && errno == EINTR) continue;
    if (result <= 0) {
      complete = result == 0;
      break;
    }
    bytes.append(chunk.data(), static_cast<std::size_t>(result));
  }
  ::close(descriptor);
  return complete ? ReadResult::read : ReadResult::failed;
}

}  // namespace varek::PrivateFile
