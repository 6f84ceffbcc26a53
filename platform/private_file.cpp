#include "platform/private_file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

namespace varek::PrivateFile {
namespace {

constexpr mode_t kFileMode = 0600;
// Appended to the file's name when a file that could not be read is set aside.
constexpr const char* kUnreadableSuffix = ".unreadable";
// Earlier set-aside files are never replaced; past this many numbered ones the writer
// gives up rather than destroy one more unreadable file.
constexpr int kMaxSetAsideFiles = 1000;
// Appended to the path for the file that every update of it locks. Beside the path as
// given rather than beside a link's target, so that all processes agree on it.
constexpr const char* kLockSuffix = ".lock";
// mkostemp fills in exactly this many characters, all letters and digits.
constexpr const char* kTemporarySuffix = ".XXXXXX";
constexpr std::size_t kTemporaryRandomLength = 6;
// Writing and syncing a store takes milliseconds, and even a slow disk's sync takes no
// more than a few seconds: a temporary file untouched for longer belongs to a writer that
// was killed. Younger ones are left alone, as a writer that does not lock (an older
// version of this program) may still be busy with one.
constexpr time_t kStaleTemporarySeconds = 10;
// Symbolic links are followed at most this many steps, like the kernel's own limit, so a
// loop of links ends.
constexpr int kMaxLinkSteps = 40;

// Holds the exclusive lock on "PATH.lock" for its lifetime; closing the file releases it.
class Lock {
 public:
  explicit Lock(const std::string& path)
      : descriptor_(::open((path + kLockSuffix).c_str(),
                           O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kFileMode)) {
    if (descriptor_ < 0) return;
    while (::flock(descriptor_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      ::close(descriptor_);
      descriptor_ = -1;
      return;
    }
  }
  ~Lock() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  int descriptor_;
};

Stamp stampOf(const struct stat& status) {
  return {.device = status.st_dev,
          .inode = status.st_ino,
          .size = status.st_size,
          .modifiedSeconds = status.st_mtim.tv_sec,
          .modifiedNanoseconds = status.st_mtim.tv_nsec};
}

// The file that path leads to through symbolic links, which need not exist yet (a link
// into a dotfiles folder may be set up before its target); path itself when it is no link.
std::string resolve(const std::string& path) {
  std::filesystem::path file = path;
  for (int step = 0; step < kMaxLinkSteps; ++step) {
    struct stat status;
    if (::lstat(file.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) break;
    std::error_code error;
    const std::filesystem::path target = std::filesystem::read_symlink(file, error);
    if (error) break;
    file = target.is_absolute() ? target : file.parent_path() / target;
  }
  return file.string();
}

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

// Replaces the file with bytes: a temporary file is created beside it with mode 0600
// before anything is written, synced, then renamed over it. On failure the old file stays
// as it was and false is returned; on success written holds the new file's stamp.
bool replace(const std::string& file, const std::string& bytes, bool setAsideFirst,
             std::optional<Stamp>& written) {
  std::string temporary = file + kTemporarySuffix;
  const int descriptor = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (descriptor < 0) return false;
  struct stat status;
  // The mode is set before the content is visible anywhere; mkostemp's 0600 may have lost
  // the owner's own bits to the umask.
  bool ready = ::fchmod(descriptor, kFileMode) == 0 && writeAll(descriptor, bytes) &&
               ::fsync(descriptor) == 0 && ::fstat(descriptor, &status) == 0;
  ready = ::close(descriptor) == 0 && ready;
  if (!ready || (setAsideFirst && !setAside(file)) ||
      ::rename(temporary.c_str(), file.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  written = stampOf(status);
  return true;
}

bool isTemporaryName(std::string_view name, std::string_view prefix) {
  if (name.size() != prefix.size() + kTemporaryRandomLength || !name.starts_with(prefix)) {
    return false;
  }
  return std::all_of(name.begin() + prefix.size(), name.end(), [](char character) {
    return (character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z') ||
           (character >= '0' && character <= '9');
  });
}

void removeStaleTemporariesBeside(const std::string& file) {
  const std::filesystem::path location(file);
  std::filesystem::path folder = location.parent_path();
  if (folder.empty()) folder = ".";
  // The temporary names are the file's name, a dot and mkostemp's random characters.
  const std::string prefix = location.filename().string() + ".";
  const auto close = [](DIR* directory) { ::closedir(directory); };
  const std::unique_ptr<DIR, decltype(close)> directory(::opendir(folder.c_str()), close);
  if (!directory) return;
  const time_t now = ::time(nullptr);
  while (const dirent* entry = ::readdir(directory.get())) {
    if (!isTemporaryName(entry->d_name, prefix)) continue;
    const std::filesystem::path candidate = folder / entry->d_name;
    struct stat status;
    if (::lstat(candidate.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_uid != ::geteuid() || now - status.st_mtim.tv_sec < kStaleTemporarySeconds) {
      continue;
    }
    ::unlink(candidate.c_str());
  }
}

}  // namespace

std::optional<Stamp> stamp(const std::string& path) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return stampOf(status);
}

Update update(const std::string& path, const std::function<void(Update&)>& change) {
  const Lock lock(path);
  const std::string file = resolve(path);
  Update update;
  // Taken before reading, so a writer that does not lock can only make the stamp older
  // than the bytes, which costs a needless reread at worst.
  update.stamp = stamp(file);
  update.found = read(file, update.bytes);
  if (update.found != ReadResult::read) update.bytes.clear();
  change(update);
  if (update.replacement) {
    update.written = replace(file, *update.replacement, update.setAsideFirst, update.stamp);
  }
  return update;
}

void removeStaleTemporaries(const std::string& path) {
  const Lock lock(path);
  removeStaleTemporariesBeside(path);
  const std::string file = resolve(path);
  if (file != path) removeStaleTemporariesBeside(file);
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
