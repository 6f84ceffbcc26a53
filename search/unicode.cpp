#include "search/unicode.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>

namespace varek::unicode {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Building a character break iterator loads ICU's rules and costs microseconds, so each
// thread keeps one and only resets its text.
icu::BreakIterator* characterIterator() {
  thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> made(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    return U_SUCCESS(status) ? std::move(made) : nullptr;
  }();
  return iterator.get();
}

// A scalar takes at most four bytes in UTF-8: a lead byte and three continuation bytes.
constexpr int kLongestContinuation = 3;

bool isContinuationByte(char byte) { return (static_cast<uint8_t>(byte) & 0xC0) == 0x80; }

bool isAscii(std::string_view text) {
  for (unsigned char byte : text) {
    if (byte >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::u32string scalars(std::string_view text) {
  std::u32string result;
  result.reserve(text.size());
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  for (int32_t offset = 0; offset < length;) {
    UChar32 scalar;
    U8_NEXT(bytes, offset, length, scalar);
    result.push_back(scalar < 0 ? kReplacement : static_cast<char32_t>(scalar));
  }
  return result;
}

void appendUtf8(std::string& text, char32_t scalar) {
  if (scalar > 0x10FFFF || (scalar >= 0xD800 && scalar <= 0xDFFF)) scalar = kReplacement;
  if (scalar < 0x80) {
    text.push_back(static_cast<char>(scalar));
  } else if (scalar < 0x800) {
    text.push_back(static_cast<char>(0xC0 | (scalar >> 6)));
    text.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
  } else if (scalar < 0x10000) {
    text.push_back(static_cast<char>(0xE0 | (scalar >> 12)));
    text.push_back(static_cast<char>(0x80 | ((scalar >> 6) & 0x3F)));
    text.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
  } else {
    text.push_back(static_cast<char>(0xF0 | (scalar >> 18)));
    text.push_back(static_cast<char>(0x80 | ((scalar >> 12) & 0x3F)));
    text.push_back(static_cast<char>(0x80 | ((scalar >> 6) & 0x3F)));
    text.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
  }
}

std::string utf8(std::u32string_view scalars) {
  std::string text;
  text.reserve(scalars.size());
  for (char32_t scalar : scalars) appendUtf8(text, scalar);
  return text;
}

std::string lowercase(std::string_view text) {
  if (isAscii(text)) {
    std::string lower(text);
    for (char& byte : lower) {
      if (byte >= 'A' && byte <= 'Z') byte = static_cast<char>(byte - 'A' + 'a');
    }
    return lower;
  }
  icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  unicode.toLower(icu::Locale::getRoot());
  std::string lower;
  unicode.toUTF8String(lower);
  return lower;
}

bool isWhitespace(char32_t scalar) { return u_isUWhiteSpace(static_cast<UChar32>(scalar)); }

bool isBlank(char32_t scalar) {
  return scalar == U'\t' ||
         (scalar <= 0x10FFFF && u_charType(static_cast<UChar32>(scalar)) == U_SPACE_SEPARATOR);
}

std::string_view trimBlanks(std::string_view text) {
  // ICU walks UTF-8 with 32-bit offsets; no one types a query that long.
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) return text;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  int32_t start = 0;
  while (start < length) {
    int32_t next = start;
    UChar32 scalar;
    U8_NEXT(bytes, next, length, scalar);
    if (scalar < 0 || !isBlank(static_cast<char32_t>(scalar))) break;
    start = next;
  }
  int32_t end = length;
  while (end > start) {
    int32_t previous = end;
    UChar32 scalar;
    U8_PREV(bytes, start, previous, scalar);
    if (scalar < 0 || !isBlank(static_cast<char32_t>(scalar))) break;
    end = previous;
  }
  return text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

std::vector<std::size_t> characterBoundaries(std::string_view text) {
  std::vector<std::size_t> boundaries;
  // Printable ASCII is one character a byte; only CR LF joins two bytes into one.
  if (isAscii(text) && text.find("\r\n") == std::string_view::npos) {
    boundaries.resize(text.size() + 1);
    for (std::size_t offset = 0; offset <= text.size(); ++offset) boundaries[offset] = offset;
    return boundaries;
  }
  icu::BreakIterator* iterator = characterIterator();
  UErrorCode status = U_ZERO_ERROR;
  UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
  if (iterator == nullptr || U_FAILURE(status)) {
    utext_close(utext);
    boundaries = {0, text.size()};
    return boundaries;
  }
  iterator->setText(utext, status);
  for (int32_t offset = iterator->first(); offset != icu::BreakIterator::DONE;
       offset = iterator->next()) {
    boundaries.push_back(static_cast<std::size_t>(offset));
  }
  // The iterator keeps a clone of the UText; closing ours leaves it working on its own.
  utext_close(utext);
  if (boundaries.empty() || boundaries.back() != text.size()) boundaries.push_back(text.size());
  return boundaries;
}

std::string_view leadingCharacters(std::string_view text, std::size_t maxCharacters) {
  // Every character takes at least one byte.
  if (text.size() <= maxCharacters) return text;
  // Only the part that can be kept is broken into characters, so a name of megabytes costs
  // no more than a short one. The window starts no scalar in its middle.
  std::size_t window = std::min(text.size(), maxCharacters * kMostBytesPerCharacter);
  for (int step = 0; step < kLongestContinuation && window > 0 && window < text.size() &&
                     isContinuationByte(text[window]);
       ++step) {
    --window;
  }
  const auto boundaries = characterBoundaries(text.substr(0, window));
  const std::size_t characters = boundaries.size() - 1;
  if (characters > maxCharacters) return text.substr(0, boundaries[maxCharacters]);
  if (window == text.size()) return text;
  // The window's end may fall inside its last character, which then goes; unless it is the
  // only one, too long to keep whole.
  return text.substr(0, characters > 1 ? boundaries[characters - 1] : window);
}

}  // namespace varek::unicode
