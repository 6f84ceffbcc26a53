// The few Unicode text operations the core shares: UTF-8 to scalars and back, the
// White_Space and blank tests, and user-perceived characters (extended grapheme clusters).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace varek::unicode {

// The scalars of UTF-8 text; every invalid byte sequence becomes one U+FFFD.
std::u32string scalars(std::string_view text);
// UTF-8 text of scalars; surrogates and values beyond U+10FFFF become U+FFFD.
std::string utf8(std::u32string_view scalars);
void appendUtf8(std::string& text, char32_t scalar);

// Full Unicode lower case, without a locale's special rules.
std::string lowercase(std::string_view text);

// The Unicode White_Space property (so NBSP and U+3000 are blanks, U+200B is not).
bool isWhitespace(char32_t scalar);

// Tab and the Unicode space separators (so also U+00A0 and U+3000, which input methods
// type), but no line break: a pasted line feed stays part of a query.
bool isBlank(char32_t scalar);
// The text without blanks at either end; bytes that are not UTF-8 are never blanks.
std::string_view trimBlanks(std::string_view text);

// The byte offsets at which the characters of valid UTF-8 text begin, in order, plus the
// text's size at the end; so a text of n characters yields n + 1 offsets.
std::vector<std::size_t> characterBoundaries(std::string_view text);

// The first maxCharacters characters of the text, cut between two characters, and at most
// maxCharacters × kMostBytesPerCharacter bytes long: a single character longer than that
// (a base under thousands of marks) is cut between two of its scalars instead.
constexpr std::size_t kMostBytesPerCharacter = 32;
std::string_view leadingCharacters(std::string_view text, std::size_t maxCharacters);

}  // namespace varek::unicode
