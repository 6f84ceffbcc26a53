// Text that X11 clients store in window properties. A property's type says how its bytes
// are encoded: UTF8_STRING, STRING (ISO 8859-1) or COMPOUND_TEXT (ISO 2022 escapes that
// switch between character sets). Whatever a client sends, what comes back is valid UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varek::X11Text {

enum class Encoding { utf8, latin1, compoundText };

// A window title keeps at most this many user-perceived characters: far more than a row
// shows, and each character costs the matcher on every keystroke, so a hostile window
// cannot make every search slow.
constexpr std::size_t kTitleCharacters = 256;

// The text of these bytes; anything that cannot be read becomes U+FFFD.
std::string decode(std::string_view bytes, Encoding encoding);

}  // namespace varek::X11Text
