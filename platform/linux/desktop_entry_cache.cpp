#include "platform/linux/desktop_entry_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

#include "platform/private_file.h"

namespace varek::DesktopEntryCache {
namespace {

// The first line of every cache; a new layout of the records gets a new line.
constexpr std::string_view kHeader = "varek desktop entries 1\n";
// No reading of real entries comes near this; a larger file is not ours to read.
constexpr std::uintmax_t kLargestFile = 256U << 20;

// FNV-1a over everything fed in; each piece is ended by a zero byte so that "ab","c" and
// "a","bc" differ.
class Hash {
 public:
  void add(std::string_view text) {
    for (const char byte : text) mix(static_cast<unsigned char>(byte));
    mix(0);
  }
  void add(std::int64_t number) { add(std::to_string(number)); }
  std::string text() const {
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(value_));
    return digits;
  }

 private:
  void mix(unsigned char byte) {
    value_ ^= byte;
    value_ *= 0x100000001b3ULL;
  }
  std::uint64_t value_ = 0xcbf29ce484222325ULL;
};

void addStatus(Hash& hash, const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    hash.add("-");
    return;
  }
  hash.add(static_cast<std::int64_t>(status.st_size));
  hash.add(static_cast<std::int64_t>(status.st_mtim.tv_sec));
  hash.add(static_cast<std::int64_t>(status.st_mtim.tv_nsec));
  hash.add(static_cast<std::int64_t>(status.st_ino));
}

// Records are strings as "<length>:<bytes>", so no value needs escaping.
void put(std::string& out, std::string_view value) {
  out += std::to_string(value.size());
  out += ':';
  out += value;
}

class Reader {
 public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {}

  bool text(std::string& value) {
    std::size_t length = 0;
    const auto [end, error] = std::from_chars(rest_.data(), rest_.data() + rest_.size(), length);
    if (error != std::errc() || end == rest_.data() + rest_.size() || *end != ':') return false;
    rest_.remove_prefix(static_cast<std::size_t>(end - rest_.data()) + 1);
    if (length > rest_.size()) return false;
    value.assign(rest_.substr(0, length));
    rest_.remove_prefix(length);
    return true;
  }
  bool number(std::size_t& value) {
    std::string digits;
    if (!text(digits)) return false;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return error == std::errc() && end == digits.data() + digits.size();
  }
  bool flag(bool& value) {
    std::string digit;
    if (!text(digit) || (digit != "0" && digit != "1")) return false;
    value = digit == "1";
    return true;
  }
  bool done() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

bool readEntry(Reader& reader, DesktopEntry& entry) {
  std::size_t arguments = 0;
  if (!reader.text(entry.id) || !reader.text(entry.path) || !reader.text(entry.name) ||
      !reader.text(entry.untranslatedName) || !reader.text(entry.genericName) ||
      !reader.text(entry.comment) || !reader.text(entry.categories) ||
      !reader.text(entry.startupWindowClass) || !reader.flag(entry.noDisplay) ||
      !reader.flag(entry.shownOnDesktop) || !reader.number(arguments)) {
    return false;
  }
  for (std::size_t index = 0; index < arguments; ++index) {
    if (!reader.text(entry.command.emplace_back())) return false;
  }
  return true;
}

}  // namespace

std::string fingerprint(const DesktopEnvironment& environment, const DesktopEntryFiles& files) {
  Hash hash;
  for (const std::string& folder : environment.dataFolders) hash.add(folder);
  hash.add(environment.searchPath);
  for (const std::string& desktop : environment.desktops) hash.add(desktop);
  hash.add("languages");
  for (const std::string& language : languageNames()) hash.add(language);
  for (std::size_t start = 0;;) {
    const std::size_t end = environment.searchPath.find(':', start);
    const std::string folder = environment.searchPath.substr(start, end - start);
    addStatus(hash, folder.empty() ? "." : folder);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  hash.add("files");
  for (const auto& [id, file] : files) {
    hash.add(id);
    hash.add(file.path);
    for (const std::int64_t part : file.stamp) hash.add(part);
  }
  return hash.text() + "-" + std::to_string(files.size());
}

std::optional<std::vector<DesktopEntry>> load(const std::string& file,
                                              const std::string& fingerprint) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  if (error || size > kLargestFile) return std::nullopt;
  std::ifstream stream(file, std::ios::binary);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (!stream.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return std::nullopt;
  std::string_view view = bytes;
  if (!view.starts_with(kHeader)) return std::nullopt;
  view.remove_prefix(kHeader.size());
  Reader reader(view);
  std::string stored;
  std::size_t count = 0;
  if (!reader.text(stored) || stored != fingerprint || !reader.number(count)) return std::nullopt;
  std::vector<DesktopEntry> entries;
  // Bounded by the file's size: each record takes more than one byte.
  if (count > bytes.size()) return std::nullopt;
  entries.reserve(count);
  for (std::size_t index = 0; index < count; ++index) {
    if (!readEntry(reader, entries.emplace_back())) return std::nullopt;
  }
  if (!reader.done()) return std::nullopt;
  return entries;
}

void store(const std::string& file, const std::string& fingerprint,
           const std::vector<DesktopEntry>& entries) {
  std::string bytes(kHeader);
  put(bytes, fingerprint);
  put(bytes, std::to_string(entries.size()));
  for (const DesktopEntry& entry : entries) {
    for (const std::string* value :
         {&entry.id, &entry.path, &entry.name, &entry.untranslatedName, &entry.genericName,
          &entry.comment, &entry.categories, &entry.startupWindowClass}) {
      put(bytes, *value);
    }
    put(bytes, entry.noDisplay ? "1" : "0");
    put(bytes, entry.shownOnDesktop ? "1" : "0");
    put(bytes, std::to_string(entry.command.size()));
    for (const std::string& argument : entry.command) put(bytes, argument);
  }
  const std::filesystem::path target(file);
  std::error_code error;
  std::filesystem::create_directories(target.parent_path(), error);
  // A name of this process's own, so that two processes storing at once do not write into
  // one temporary file; the rename then puts one whole file in place.
  const std::string temporary = file + ".tmp." + std::to_string(::getpid());
  const int descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (descriptor < 0) return;
  const bool whole = PrivateFile::writeAll(descriptor, bytes);
  if (::close(descriptor) != 0 || !whole || ::rename(temporary.c_str(), file.c_str()) != 0) {
    ::unlink(temporary.c_str());
  }
}

}  // namespace varek::DesktopEntryCache
