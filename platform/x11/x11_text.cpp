#include "platform/x11/x11_text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <utility>
#include <vector>

#include "search/unicode.h"

namespace varek::X11Text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr unsigned char kEscape = 0x1B;
constexpr unsigned char kTab = 0x09;
constexpr unsigned char kNewline = 0x0A;
constexpr unsigned char kSpace = 0x20;
constexpr unsigned char kDelete = 0x7F;
constexpr unsigned char kHighBit = 0x80;
// CSI: Compound Text uses it only for direction marks ("CSI 1 ]", "CSI ]"), which carry no
// text of their own.
constexpr unsigned char kControlSequence = 0x9B;
// "ESC % G" opens a stretch of UTF-8 (how Xlib sends what no registered set holds, such as
// "–" or emoji); "ESC % @" returns to the ISO 2022 sets designated before it.
constexpr std::string_view kUtf8Return = "\x1b%@";
// An extended segment ("ESC % / F M L") names its character set before this byte.
constexpr unsigned char kStartOfText = 0x02;
// Extended segments give their length in two 7-bit digits.
constexpr std::size_t kLengthDigitBase = 128;
// A set name from a client reaches iconv only if it looks like one.
constexpr std::size_t kLongestSetName = 32;

// A character set designated to GL or GR, named as iconv knows its 8-bit form: the bytes of
// each character with their high bit set.
struct Charset {
  std::string_view encoding;  // empty for ASCII
  int width = 1;              // bytes per character
  bool ninetySix = false;     // a 96-character set: 0xA0 and 0xFF are letters too
  bool readable = true;       // false for a set this decoder does not know
};

constexpr Charset kAscii{};
constexpr Charset kLatin1{"ISO-8859-1", 1, true};

Charset unknown(int width, bool ninetySix) { return {"", width, ninetySix, false}; }

// "ESC ( F" and "ESC ) F": the 94-character sets, by their registered final byte.
Charset ninetyFourSet(unsigned char final) {
  switch (final) {
    case 'B':  // ASCII
    case 'J':  // JIS X 0201 Roman: ASCII but for two signs
      return kAscii;
    case 'I':
      return {"JIS_X0201", 1, false};
  }
  return unknown(1, false);
}

// "ESC - F": the 96-character sets, always to GR.
Charset ninetySixSet(unsigned char final) {
  constexpr std::pair<unsigned char, std::string_view> kSets[] = {
      {'A', "ISO-8859-1"},  {'B', "ISO-8859-2"},  {'C', "ISO-8859-3"},  {'D', "ISO-8859-4"},
      {'F', "ISO-8859-7"},  {'G', "ISO-8859-6"},  {'H', "ISO-8859-8"},  {'L', "ISO-8859-5"},
      {'M', "ISO-8859-9"},  {'T', "ISO-8859-11"}, {'V', "ISO-8859-10"}, {'Y', "ISO-8859-13"},
      {'_', "ISO-8859-14"}, {'b', "ISO-8859-15"}, {'f', "ISO-8859-16"},
  };
  for (const auto& [key, encoding] : kSets) {
    if (key == final) return {encoding, 1, true};
  }
  return unknown(1, true);
}

// "ESC $ ( F", "ESC $ F" and "ESC $ ) F": the 94×94 sets, whose two bytes with their high
// bits set are the EUC form of the character.
Charset doubleByteSet(unsigned char final) {
  switch (final) {
    case 'A':
      return {"EUC-CN", 2, false};  // GB 2312
    case '@':                       // JIS C 6226, the first edition of JIS X 0208
    case 'B':
      return {"EUC-JP", 2, false};
    case 'C':
      return {"EUC-KR", 2, false};  // KS C 5601
  }
  return unknown(2, false);
}

bool plausibleSetName(std::string_view name) {
  return !name.empty() && name.size() <= kLongestSetName &&
         std::all_of(name.begin(), name.end(), [](char letter) {
           return (letter >= 'a' && letter <= 'z') || (letter >= 'A' && letter <= 'Z') ||
                  (letter >= '0' && letter <= '9') || letter == '-' || letter == '_' ||
                  letter == '.';
         });
}

class CompoundTextDecoder {
 public:
  explicit CompoundTextDecoder(std::string_view bytes) : bytes_(bytes) {}
  ~CompoundTextDecoder() {
    for (const auto& [name, converter] : converters_) {
      if (converter != kNoConverter) iconv_close(converter);
    }
  }
  CompoundTextDecoder(const CompoundTextDecoder&) = delete;
  CompoundTextDecoder& operator=(const CompoundTextDecoder&) = delete;

  std::string run() {
    while (at_ < bytes_.size()) {
      const unsigned char byte = this->byte(at_);
      if (byte == kEscape) {
        escape();
      } else if (byte == kControlSequence) {
        skipControlSequence();
      } else if (byte == kTab || byte == kNewline || byte == kSpace) {
        text(byte);
        ++at_;
      } else if (byte < kSpace || byte == kDelete || (byte >= kHighBit && byte < 0xA0)) {
        ++at_;  // other controls have no place in Compound Text and carry nothing
      } else {
        character(byte >= kHighBit ? right_ : left_, byte >= kHighBit);
      }
    }
    flush();
    return std::move(out_);
  }

 private:
  // What iconv_open returns for an encoding it does not know.
  inline static const iconv_t kNoConverter = reinterpret_cast<iconv_t>(std::intptr_t{-1});

  unsigned char byte(std::size_t offset) const {
    return static_cast<unsigned char>(bytes_[offset]);
  }

  void text(char32_t scalar) {
    flush();
    unicode::appendUtf8(out_, scalar);
  }

  // One character of the set designated to the half this byte is in.
  void character(const Charset& set, bool right) {
    bool valid = at_ + set.width <= bytes_.size();
    for (int index = 0; valid && index < set.width; ++index) {
      const unsigned char part = byte(at_ + index);
      const unsigned char position = part & ~kHighBit;
      valid = (part >= kHighBit) == right &&
              (set.ninetySix || (position > kSpace && position < kDelete));
    }
    if (!valid || !set.readable) {
      text(kReplacement);
      at_ += valid ? set.width : 1;
      return;
    }
    if (set.encoding.empty()) {
      text(byte(at_) & ~kHighBit);
      ++at_;
      return;
    }
    if (set.encoding != pendingEncoding_) flush();
    pendingEncoding_ = set.encoding;
    pendingWidth_ = set.width;
    for (int index = 0; index < set.width; ++index) {
      pending_.push_back(static_cast<char>(byte(at_ + index) | kHighBit));
    }
    at_ += set.width;
  }

  void escape() {
    std::size_t final = at_ + 1;
    while (final < bytes_.size() && byte(final) >= 0x20 && byte(final) <= 0x2F) ++final;
    if (final >= bytes_.size()) {
      at_ = bytes_.size();  // cut off: nothing follows to read in the new set
      return;
    }
    const std::string_view intermediates = bytes_.substr(at_ + 1, final - at_ - 1);
    const unsigned char code = byte(final);
    at_ = final + 1;
    if (code < 0x30 || code > 0x7E) {
      at_ = final;  // no escape after all; the byte is read on its own
    } else if (intermediates == "(") {
      left_ = ninetyFourSet(code);
    } else if (intermediates == ")") {
      right_ = ninetyFourSet(code);
    } else if (intermediates == "-") {
      right_ = ninetySixSet(code);
    } else if (intermediates == "$(" || intermediates == "$") {
      left_ = doubleByteSet(code);
    } else if (intermediates == "$)") {
      right_ = doubleByteSet(code);
    } else if (intermediates == "%" && code == 'G') {
      const std::size_t end = std::min(bytes_.find(kUtf8Return, at_), bytes_.size());
      flush();
      out_ += unicode::utf8(unicode::scalars(bytes_.substr(at_, end - at_)));
      at_ = std::min(end + kUtf8Return.size(), bytes_.size());
    } else if (intermediates == "%/") {
      extendedSegment(code);
    }
    // Any other escape changes nothing that this decoder reads.
  }

  // "ESC % / F M L", then the set's name, STX, and text in that set's own encoding.
  void extendedSegment(unsigned char octetsPerCharacter) {
    if (at_ + 2 > bytes_.size()) {
      at_ = bytes_.size();
      return;
    }
    const std::size_t length =
        (byte(at_) & ~kHighBit) * kLengthDigitBase + (byte(at_ + 1) & ~kHighBit);
    const std::string_view segment = bytes_.substr(at_ + 2, length);
    at_ = std::min(at_ + 2 + length, bytes_.size());
    const std::size_t split = segment.find(static_cast<char>(kStartOfText));
    if (split == std::string_view::npos) return;
    const std::string_view name = segment.substr(0, split);
    const int width =
        octetsPerCharacter >= '2' && octetsPerCharacter <= '4' ? octetsPerCharacter - '0' : 1;
    flush();
    std::string encoding(name);
    // X names its fonts' sets "big5-0", "koi8-r"; iconv may know them without the "-0".
    if (plausibleSetName(name) && converter(encoding) == kNoConverter && name.ends_with("-0")) {
      encoding.resize(encoding.size() - 2);
    }
    convert(plausibleSetName(name) ? encoding : std::string(), segment.substr(split + 1), width);
  }

  void skipControlSequence() {
    std::size_t end = at_ + 1;
    while (end < bytes_.size() && byte(end) >= 0x20 && byte(end) <= 0x3F) ++end;
    at_ = std::min(end + 1, bytes_.size());
  }

  void flush() {
    if (pending_.empty()) return;
    convert(std::string(pendingEncoding_), pending_, pendingWidth_);
    pending_.clear();
    pendingEncoding_ = {};
  }

  iconv_t converter(const std::string& encoding) {
    for (const auto& [name, converter] : converters_) {
      if (name == encoding) return converter;
    }
    converters_.emplace_back(encoding, iconv_open("UTF-8", encoding.c_str()));
    return converters_.back().second;
  }

  // Appends characters of `width` bytes each; one that cannot be read becomes U+FFFD.
  void convert(const std::string& encoding, std::string_view input, int width) {
    if (encoding == kLatin1.encoding) {
      for (const char letter : input) unicode::appendUtf8(out_, static_cast<unsigned char>(letter));
      return;
    }
    const iconv_t converter = encoding.empty() ? kNoConverter : this->converter(encoding);
    if (converter == kNoConverter) {
      const std::size_t characters = std::max<std::size_t>(1, input.size() / width);
      for (std::size_t index = 0; index < characters; ++index) text(kReplacement);
      return;
    }
    std::string source(input);
    char* in = source.data();
    std::size_t inLeft = source.size();
    // No character of these sets takes more than four bytes in UTF-8.
    std::string buffer(4 * source.size() + 4, '\0');
    while (inLeft > 0) {
      char* outAt = buffer.data();
      std::size_t outLeft = buffer.size();
      const std::size_t result = iconv(converter, &in, &inLeft, &outAt, &outLeft);
      out_.append(buffer.data(), static_cast<std::size_t>(outAt - buffer.data()));
      if (result != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
      unicode::appendUtf8(out_, kReplacement);
      const std::size_t skip = std::min<std::size_t>(static_cast<std::size_t>(width), inLeft);
      in += skip;
      inLeft -= skip;
      iconv(converter, nullptr, nullptr, nullptr, nullptr);
    }
  }

  std::string_view bytes_;
  std::size_t at_ = 0;
  Charset left_ = kAscii;
  Charset right_ = kLatin1;
  std::string out_;
  // Characters of one set are converted together.
  std::string pending_;
  std::string_view pendingEncoding_;
  int pendingWidth_ = 1;
  std::vector<std::pair<std::string, iconv_t>> converters_;
};

}  // namespace

std::string decode(std::string_view bytes, Encoding encoding) {
  switch (encoding) {
    case Encoding::utf8:
      return unicode::utf8(unicode::scalars(bytes));
    case Encoding::latin1: {
      std::string text;
      text.reserve(bytes.size());
      for (const char byte : bytes) unicode::appendUtf8(text, static_cast<unsigned char>(byte));
      return text;
    }
    case Encoding::compoundText:
      return CompoundTextDecoder(bytes).run();
  }
  return {};
}

}  // namespace varek::X11Text
