#include "platform/linux/dictd_dictionary.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string_view>
#include <tuple>
#include <utility>

#include "search/unicode.h"

namespace varek {
namespace {

constexpr std::string_view kIndexSuffix = ".index";
constexpr std::string_view kCompressedSuffix = ".dict.dz";
constexpr std::string_view kPlainSuffix = ".dict";
// Entries about the database itself (name, address, licence); dictfmt writes
// "00databaseshort", older versions "00-database-short".
constexpr std::array<std::string_view, 2> kMetadataPrefixes = {"00database", "00-database-"};

// Each digit of an index number carries six bits; ten digits already exceed any file.
constexpr int kBitsPerDigit = 6;
constexpr std::size_t kLongestNumber = 10;
// The longest entries of large dictionaries (gcide, wn) stay far below this; a damaged
// index must not make a lookup allocate gigabytes.
constexpr std::uint64_t kLongestDefinition = std::uint64_t{4} << 20;
// Each sense of a headword costs a read on the keystroke that looks it up. Real
// dictionaries list a few, rarely dozens; a damaged index may repeat a headword endlessly.
constexpr std::size_t kMostSenses = 64;
// A lookup reads at most this many index lines of its headword's hash, however often a
// damaged index repeats one headword.
constexpr std::size_t kMostScanned = 4096;
// Real headwords are a few words long; a longer line is no entry, and a lookup reads no
// more than this of a line it compares.
constexpr std::size_t kLongestLine = 4096;
// Senses are set apart as dictd's own clients show them: by an empty line.
constexpr std::string_view kSenseSeparator = "\n\n";

// The gzip header (RFC 1952) and dictzip's random-access field inside its extra data.
constexpr unsigned char kGzipFirstByte = 0x1f;
constexpr unsigned char kGzipSecondByte = 0x8b;
constexpr unsigned char kDeflateMethod = 8;
constexpr unsigned char kFlagHeaderCrc = 0x02;
constexpr unsigned char kFlagExtra = 0x04;
constexpr unsigned char kFlagName = 0x08;
constexpr unsigned char kFlagComment = 0x10;
constexpr std::size_t kFixedHeaderSize = 10;
constexpr std::size_t kHeaderCrcSize = 2;
constexpr std::size_t kSubfieldHeaderSize = 4;     // two id bytes and a 16-bit length
constexpr std::size_t kRandomAccessFixedSize = 6;  // version, chunk length, chunk count
constexpr unsigned char kRandomAccessFirstId = 'R';
constexpr unsigned char kRandomAccessSecondId = 'A';
// The extra field is at most 64 KiB; file name and comment are short in practice.
constexpr std::size_t kLongestHeader = 128 * 1024;

// zlib window bits: a raw deflate stream (a dictzip chunk), or a whole gzip file.
constexpr int kRawDeflateWindow = -15;
constexpr int kGzipWindow = 16 + 15;
constexpr std::size_t kReadBlockSize = 64 * 1024;

class File {
 public:
  explicit File(const std::string& path)
      : descriptor_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~File() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool isOpen() const { return descriptor_ >= 0; }
  std::uint64_t size() const {
    struct stat status;
    return ::fstat(descriptor_, &status) == 0 ? std::uint64_t(status.st_size) : 0;
  }
  // Up to length bytes from offset; fewer only at the end of the file or on an error.
  std::string read(std::uint64_t offset, std::size_t length) const {
    std::string bytes(length, '\0');
    std::size_t done = 0;
    while (done < length) {
      const ssize_t result =
          ::pread(descriptor_, bytes.data() + done, length - done, off_t(offset + done));
      if (result < 0 && errno == EINTR) continue;
      if (result <= 0) break;
      done += std::size_t(result);
    }
    bytes.resize(done);
    return bytes;
  }

 private:
  int descriptor_;
};

class Inflater {
 public:
  explicit Inflater(int windowBits) { ready_ = inflateInit2(&stream_, windowBits) == Z_OK; }
  ~Inflater() {
    if (ready_) inflateEnd(&stream_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  bool ready() const { return ready_; }
  z_stream& stream() { return stream_; }

 private:
  z_stream stream_{};
  bool ready_ = false;
};

int digitValue(char digit) {
  if (digit >= 'A' && digit <= 'Z') return digit - 'A';
  if (digit >= 'a' && digit <= 'z') return digit - 'a' + 26;
  if (digit >= '0' && digit <= '9') return digit - '0' + 52;
  if (digit == '+') return 62;
  if (digit == '/') return 63;
  return -1;
}

// An offset or length of the index: base64 digits, the most significant first.
std::optional<std::uint64_t> indexNumber(std::string_view digits) {
  if (digits.empty() || digits.size() > kLongestNumber) return std::nullopt;
  std::uint64_t number = 0;
  for (const char digit : digits) {
    const int value = digitValue(digit);
    if (value < 0) return std::nullopt;
    number = (number << kBitsPerDigit) | std::uint64_t(value);
  }
  return number;
}

// Appends the text in lower case, as unicode::lowercase would. Headwords and queries
// both pass through here. Nearly every headword of the German and English databases is
// ASCII or Latin-1, whose capitals map one to one; doing those here spares a large index
// hundreds of thousands of ICU calls and allocations on its first lookup.
void appendLowercase(std::string& target, std::string_view text) {
  constexpr unsigned char kLatin1Lead = 0xc3;  // UTF-8 lead byte of U+00C0..U+00FF
  constexpr unsigned char kFirstCapital = 0x80, kLastCapital = 0x9e;  // À..Þ
  constexpr unsigned char kMultiplicationSign = 0x97;                 // ×, not a letter
  constexpr unsigned char kContinuationEnd = 0xbf;
  constexpr unsigned char kCaseDistance = 0x20;
  const std::size_t start = target.size();
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80) {
      target += byte >= 'A' && byte <= 'Z' ? char(byte + kCaseDistance) : char(byte);
      continue;
    }
    const auto next = at + 1 < text.size() ? static_cast<unsigned char>(text[at + 1]) : 0;
    if (byte != kLatin1Lead || next < kFirstCapital || next > kContinuationEnd) {
      target.resize(start);
      target += unicode::lowercase(text);
      return;
    }
    const bool capital = next <= kLastCapital && next != kMultiplicationSign;
    target += char(byte);
    target += capital ? char(next + kCaseDistance) : char(next);
    ++at;
  }
}

bool isMetadata(std::string_view headword) {
  return std::any_of(kMetadataPrefixes.begin(), kMetadataPrefixes.end(),
                     [&](std::string_view prefix) { return headword.starts_with(prefix); });
}

std::string_view trimmed(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n\f\v";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// One line of the index: "headword\tOFFSET\tLENGTH", perhaps with a fourth field.
struct IndexLine {
  std::string_view headword;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

// The entry a line describes; nothing for metadata and damaged lines.
std::optional<IndexLine> parseLine(std::string_view line) {
  const std::size_t firstTab = line.find('\t');
  const std::size_t secondTab = line.find('\t', firstTab + 1);
  if (firstTab == std::string_view::npos || secondTab == std::string_view::npos)
    return std::nullopt;
  const std::string_view headword = line.substr(0, firstTab);
  if (headword.empty() || headword.find('\0') != std::string_view::npos || isMetadata(headword)) {
    return std::nullopt;
  }
  // A fourth field, where present, is the headword before dictfmt normalised it.
  std::string_view lengthDigits = line.substr(secondTab + 1);
  lengthDigits = lengthDigits.substr(0, lengthDigits.find('\t'));
  if (lengthDigits.ends_with('\r')) lengthDigits.remove_suffix(1);
  const auto offset = indexNumber(line.substr(firstTab + 1, secondTab - firstTab - 1));
  const auto length = indexNumber(lengthDigits);
  if (!offset || !length || *length == 0 || *length > kLongestDefinition) return std::nullopt;
  return IndexLine{headword, *offset, *length};
}

unsigned littleEndian16(const std::string& bytes, std::size_t at) {
  return unsigned(std::uint8_t(bytes[at])) | unsigned(std::uint8_t(bytes[at + 1])) << 8;
}

// Where the compressed data of a gzip file begins and, for a dictzip file, the chunk
// table from its random-access field.
struct GzipLayout {
  std::uint64_t dataStart = 0;
  std::uint64_t chunkLength = 0;           // uncompressed bytes per chunk; 0 without a table
  std::vector<std::uint64_t> chunkStarts;  // file offsets of the chunks, then their end
};

// Reads the random-access field among the extra subfields into layout; false when
// the field is there but damaged.
bool readChunkSizes(const std::string& extra, GzipLayout& layout) {
  for (std::size_t at = 0; at + kSubfieldHeaderSize <= extra.size();) {
    const std::size_t length = littleEndian16(extra, at + 2);
    const std::size_t body = at + kSubfieldHeaderSize;
    if (body + length > extra.size()) return false;
    if (std::uint8_t(extra[at]) == kRandomAccessFirstId &&
        std::uint8_t(extra[at + 1]) == kRandomAccessSecondId) {
      if (length < kRandomAccessFixedSize) return false;
      layout.chunkLength = littleEndian16(extra, body + 2);
      const std::size_t count = littleEndian16(extra, body + 4);
      if (layout.chunkLength == 0 || length != kRandomAccessFixedSize + 2 * count) return false;
      layout.chunkStarts.reserve(count + 1);
      std::uint64_t start = 0;
      for (std::size_t chunk = 0; chunk < count; ++chunk) {
        layout.chunkStarts.push_back(start);
        start += littleEndian16(extra, body + kRandomAccessFixedSize + 2 * chunk);
      }
      layout.chunkStarts.push_back(start);
      return true;
    }
    at = body + length;
  }
  return true;
}

std::optional<GzipLayout> readGzipLayout(const File& file) {
  const std::string header = file.read(0, kLongestHeader);
  if (header.size() < kFixedHeaderSize || std::uint8_t(header[0]) != kGzipFirstByte ||
      std::uint8_t(header[1]) != kGzipSecondByte || std::uint8_t(header[2]) != kDeflateMethod) {
    return std::nullopt;
  }
  const auto flags = std::uint8_t(header[3]);
  GzipLayout layout;
  std::size_t at = kFixedHeaderSize;
  if (flags & kFlagExtra) {
    if (at + 2 > header.size()) return std::nullopt;
    const std::size_t length = littleEndian16(header, at);
    at += 2;
    if (at + length > header.size() || !readChunkSizes(header.substr(at, length), layout)) {
      return std::nullopt;
    }
    at += length;
  }
  for (const unsigned char field : {kFlagName, kFlagComment}) {
    if (!(flags & field)) continue;
    const std::size_t end = header.find('\0', at);
    if (end == std::string::npos) return std::nullopt;
    at = end + 1;
  }
  if (flags & kFlagHeaderCrc) at += kHeaderCrcSize;
  layout.dataStart = at;
  for (std::uint64_t& start : layout.chunkStarts) start += at;
  if (at > file.size() ||
      (!layout.chunkStarts.empty() && layout.chunkStarts.back() > file.size())) {
    return std::nullopt;
  }
  return layout;
}

// Inflates one dictzip chunk, which dictzip flushed fully so it needs no earlier one.
bool inflateChunk(Inflater& inflater, std::string_view compressed, std::size_t chunkLength,
                  std::string& output) {
  z_stream& stream = inflater.stream();
  if (inflateReset(&stream) != Z_OK) return false;
  const std::size_t before = output.size();
  // One byte of room beyond the chunk lets inflate finish the chunk's closing flush
  // marker, and shows a chunk that inflates to more than it should.
  output.resize(before + chunkLength + 1);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  stream.avail_in = uInt(compressed.size());
  stream.next_out = reinterpret_cast<Bytef*>(output.data() + before);
  stream.avail_out = uInt(chunkLength + 1);
  const int result = inflate(&stream, Z_SYNC_FLUSH);
  output.resize(before + chunkLength + 1 - stream.avail_out);
  return (result == Z_OK || result == Z_STREAM_END) && stream.avail_in == 0 &&
         output.size() - before <= chunkLength;
}

}  // namespace

class DictdDictionary::Database {
 public:
  Database(std::string indexFile, std::string bodyFile, bool compressed)
      : indexFile_(std::move(indexFile)), bodyFile_(std::move(bodyFile)), compressed_(compressed) {}

  // Every readable entry under key (already in lower case), in the order of the body,
  // joined; nothing when none is readable.
  std::optional<std::string> definition(std::string_view key) {
    std::call_once(loaded_, [this] { load(); });
    if (!index_ || !index_->isOpen()) return std::nullopt;
    const std::uint32_t hash = keyHash(key);
    std::string headword;
    const auto first = std::partition_point(lines_.begin(), lines_.end(), [&](std::uint32_t line) {
      const std::optional<IndexLine> entry = readLine(line, headword);
      return entry && keyHash(headword) < hash;
    });
    // A headword with several senses has several index lines. The index orders them by
    // the text of their offset digits, which is no order at all, so the body decides: it
    // holds the senses as the dictionary's authors wrote them.
    std::vector<Entry> senses;
    std::size_t scanned = 0;
    for (auto line = first; line != lines_.end() && scanned < kMostScanned; ++line, ++scanned) {
      const std::optional<IndexLine> entry = readLine(*line, headword);
      if (!entry || keyHash(headword) != hash) break;
      if (headword == key) senses.push_back({entry->offset, entry->length});
    }
    std::sort(senses.begin(), senses.end());
    senses.erase(std::unique(senses.begin(), senses.end()), senses.end());
    if (senses.size() > kMostSenses) senses.resize(kMostSenses);
    std::string joined;
    for (const Entry& sense : senses) {
      const std::optional<std::string> body = read(sense.offset, sense.length);
      if (!body) continue;
      const std::string_view text = trimmed(*body);
      if (text.empty()) continue;
      if (!joined.empty()) joined += kSenseSeparator;
      joined += text;
      if (joined.size() > kLongestDefinition) break;
    }
    if (joined.empty()) return std::nullopt;
    return unicode::utf8(unicode::scalars(joined));
  }

 private:
  struct Entry {
    std::uint64_t offset;
    std::uint64_t length;
    auto operator<=>(const Entry&) const = default;
  };

  // The 32 bits of a key's hash that order the lines; keys that share them are told
  // apart by their text.
  static std::uint32_t keyHash(std::string_view key) {
    return static_cast<std::uint32_t>(std::hash<std::string_view>{}(key));
  }

  // The line that starts at offset, its headword lower-cased into headword; nothing when
  // it cannot be read or is no entry.
  std::optional<IndexLine> readLine(std::uint32_t offset, std::string& headword) const {
    const std::string bytes = index_->read(offset, kLongestLine + 1);
    const std::string_view text(bytes);
    const std::optional<IndexLine> line = parseLine(text.substr(0, text.find('\n')));
    headword.clear();
    if (line) appendLowercase(headword, line->headword);
    return line;
  }

  // Reads the index once, in pieces, and keeps only where each entry's line starts, ordered
  // by the hash of its headword: four bytes a line, where the index itself holds twenty
  // to thirty. Lookups read the few lines they compare from the file.
  void load() {
    if (compressed_) {
      const File body(bodyFile_);
      if (!body.isOpen()) return;
      layout_ = readGzipLayout(body);
      if (!layout_) return;
    }
    index_ = std::make_unique<File>(indexFile_);
    if (!index_->isOpen()) return;
    // The hash above the line's offset, so that sorting the numbers orders by both.
    std::vector<std::uint64_t> ordered;
    std::string headword;
    const auto add = [&](std::string_view line, std::uint64_t start) {
      if (line.size() > kLongestLine || start > std::numeric_limits<std::uint32_t>::max()) return;
      const std::optional<IndexLine> entry = parseLine(line);
      if (!entry) return;
      headword.clear();
      appendLowercase(headword, entry->headword);
      ordered.push_back(std::uint64_t{keyHash(headword)} << 32 | start);
    };
    std::string piece;  // what is read but not yet split into lines, from pieceStart on
    std::uint64_t pieceStart = 0;
    bool dropping = false;  // the line at the start of piece is too long to be an entry
    for (bool ended = false; !ended;) {
      const std::string more = index_->read(pieceStart + piece.size(), kReadBlockSize);
      ended = more.size() < kReadBlockSize;
      piece += more;
      std::size_t at = 0;
      for (;;) {
        const std::size_t newline = piece.find('\n', at);
        if (newline == std::string::npos && !ended) break;
        const std::size_t end = newline == std::string::npos ? piece.size() : newline;
        if (!std::exchange(dropping, false)) {
          add(std::string_view(piece).substr(at, end - at), pieceStart + at);
        }
        at = std::min(end + 1, piece.size());
        if (newline == std::string::npos) break;
      }
      // A line that has not ended within the longest an entry may be is passed over.
      if (piece.size() - at > kLongestLine) {
        dropping = true;
        at = piece.size();
      }
      pieceStart += at;
      piece.erase(0, at);
    }
    std::sort(ordered.begin(), ordered.end());
    lines_.reserve(ordered.size());
    for (const std::uint64_t line : ordered) lines_.push_back(static_cast<std::uint32_t>(line));
  }

  std::optional<std::string> read(std::uint64_t offset, std::uint64_t length) const {
    const File body(bodyFile_);
    if (!body.isOpen()) return std::nullopt;
    if (!compressed_) {
      std::string bytes = body.read(offset, std::size_t(length));
      if (bytes.size() != length) return std::nullopt;
      return bytes;
    }
    return layout_->chunkLength > 0 ? readChunks(body, offset, length)
                                    : readGzip(body, offset, length);
  }

  std::optional<std::string> readChunks(const File& body, std::uint64_t offset,
                                        std::uint64_t length) const {
    const std::uint64_t chunkLength = layout_->chunkLength;
    const std::vector<std::uint64_t>& starts = layout_->chunkStarts;
    const std::uint64_t first = offset / chunkLength;
    const std::uint64_t last = (offset + length - 1) / chunkLength;
    if (last + 1 >= starts.size()) return std::nullopt;
    const std::string compressed = body.read(starts[first], starts[last + 1] - starts[first]);
    if (compressed.size() != starts[last + 1] - starts[first]) return std::nullopt;
    Inflater inflater(kRawDeflateWindow);
    if (!inflater.ready()) return std::nullopt;
    std::string text;
    for (std::uint64_t chunk = first; chunk <= last; ++chunk) {
      const std::string_view bytes =
          std::string_view(compressed)
              .substr(starts[chunk] - starts[first], starts[chunk + 1] - starts[chunk]);
      if (!inflateChunk(inflater, bytes, chunkLength, text)) return std::nullopt;
      // Every chunk but the last of the file inflates to a whole chunk length.
      if (chunk + 2 < starts.size() && text.size() != (chunk - first + 1) * chunkLength) {
        return std::nullopt;
      }
    }
    const std::uint64_t skip = offset - first * chunkLength;
    if (text.size() < skip + length) return std::nullopt;
    return text.substr(skip, length);
  }

  // A gzip file without a chunk table: inflated from its start up to the entry's end,
  // keeping only the entry's bytes.
  std::optional<std::string> readGzip(const File& body, std::uint64_t offset,
                                      std::uint64_t length) const {
    Inflater inflater(kGzipWindow);
    if (!inflater.ready()) return std::nullopt;
    z_stream& stream = inflater.stream();
    std::string text;
    std::string output(kReadBlockSize, '\0');
    std::uint64_t produced = 0;
    std::uint64_t position = 0;
    int result = Z_OK;
    while (text.size() < length && result != Z_STREAM_END) {
      const std::string block = body.read(position, kReadBlockSize);
      if (block.empty()) return std::nullopt;
      position += block.size();
      stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(block.data()));
      stream.avail_in = uInt(block.size());
      // A full output buffer may leave more output inside zlib even with no input left.
      bool pending = true;
      while (pending && text.size() < length && result != Z_STREAM_END) {
        stream.next_out = reinterpret_cast<Bytef*>(output.data());
        stream.avail_out = uInt(output.size());
        result = inflate(&stream, Z_NO_FLUSH);
        if (result == Z_BUF_ERROR) {  // nothing more without the next block
          result = Z_OK;
          break;
        }
        if (result != Z_OK && result != Z_STREAM_END) return std::nullopt;
        const std::uint64_t count = output.size() - stream.avail_out;
        // The part of this output that lies inside [offset, offset + length).
        const std::uint64_t from = std::max(offset, produced);
        const std::uint64_t to = std::min(offset + length, produced + count);
        if (from < to) text.append(output, std::size_t(from - produced), std::size_t(to - from));
        produced += count;
        pending = stream.avail_in > 0 || stream.avail_out == 0;
      }
    }
    if (text.size() != length) return std::nullopt;
    return text;
  }

  std::string indexFile_;
  std::string bodyFile_;
  bool compressed_;

  std::once_flag loaded_;
  // Written once under loaded_, read-only afterwards. The index stays open, so a package
  // update that replaces it cannot move the lines under the offsets.
  std::unique_ptr<File> index_;
  std::vector<std::uint32_t> lines_;  // where each entry's line starts, by headword hash
  std::optional<GzipLayout> layout_;
};

DictdDictionary::DictdDictionary(std::vector<std::string> folders) : folders_(std::move(folders)) {}

DictdDictionary::~DictdDictionary() = default;

std::optional<std::string> DictdDictionary::definition(const std::string& text) const {
  std::call_once(found_, [this] {
    std::vector<std::tuple<std::string, std::size_t, std::unique_ptr<Database>>> found;
    for (std::size_t folder = 0; folder < folders_.size(); ++folder) {
      std::error_code error;
      for (auto entry = std::filesystem::directory_iterator(folders_[folder], error);
           !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        const std::string file = entry->path().filename().string();
        if (!file.ends_with(kIndexSuffix) || file.size() == kIndexSuffix.size()) continue;
        const std::string name = file.substr(0, file.size() - kIndexSuffix.size());
        const std::string stem = (entry->path().parent_path() / name).string();
        std::error_code ignored;
        const bool compressed =
            std::filesystem::exists(stem + std::string(kCompressedSuffix), ignored);
        const std::string body = stem + std::string(compressed ? kCompressedSuffix : kPlainSuffix);
        if (!compressed && !std::filesystem::exists(body, ignored)) continue;
        found.emplace_back(name, folder,
                           std::make_unique<Database>(entry->path().string(), body, compressed));
      }
    }
    std::sort(found.begin(), found.end(), [](const auto& left, const auto& right) {
      return std::tie(std::get<0>(left), std::get<1>(left)) <
             std::tie(std::get<0>(right), std::get<1>(right));
    });
    for (auto& database : found) databases_.push_back(std::move(std::get<2>(database)));
  });
  if (text.empty()) return std::nullopt;
  std::string key;
  appendLowercase(key, text);
  for (const auto& database : databases_) {
    if (auto definition = database->definition(key)) return definition;
  }
  return std::nullopt;
}

}  // namespace varek
