#include "app/key_symbol.h"

#include <xkbcommon/xkbcommon.h>

#include <QChar>
#include <array>
#include <utility>

namespace varek {
namespace {

// Function keys are consecutive in both Qt and X11: XK_F1 onwards.
constexpr std::uint32_t kF1Symbol = 0xffbe;
// Qt's key codes of printable Latin-1 keys are their (upper-case) characters, and so are
// X11's keysyms of them, only in lower case.
constexpr int kLatin1First = 0x20, kAsciiLast = 0x7e, kLatin1UpperFirst = 0xa0, kLatin1Last = 0xff;

// The keys other than characters and function keys that make sense in a combination.
constexpr std::pair<Qt::Key, std::uint32_t> kSpecialKeys[] = {
    {Qt::Key_Escape, 0xff1b}, {Qt::Key_Tab, 0xff09},      {Qt::Key_Backspace, 0xff08},
    {Qt::Key_Return, 0xff0d}, {Qt::Key_Enter, 0xff8d},    {Qt::Key_Insert, 0xff63},
    {Qt::Key_Delete, 0xffff}, {Qt::Key_Pause, 0xff13},    {Qt::Key_Print, 0xff61},
    {Qt::Key_Home, 0xff50},   {Qt::Key_End, 0xff57},      {Qt::Key_Left, 0xff51},
    {Qt::Key_Up, 0xff52},     {Qt::Key_Right, 0xff53},    {Qt::Key_Down, 0xff54},
    {Qt::Key_PageUp, 0xff55}, {Qt::Key_PageDown, 0xff56}, {Qt::Key_Menu, 0xff67},
};

}  // namespace

std::uint32_t keysymOf(Qt::Key key) {
  const int code = key;
  if ((code >= kLatin1First && code <= kAsciiLast) ||
      (code >= kLatin1UpperFirst && code <= kLatin1Last)) {
    return QChar(code).toLower().unicode();
  }
  if (code >= Qt::Key_F1 && code <= Qt::Key_F35) return kF1Symbol + (code - Qt::Key_F1);
  for (const auto& [special, symbol] : kSpecialKeys) {
    if (special == key) return symbol;
  }
  return 0;
}

std::string keysymName(Qt::Key key) {
  const std::uint32_t keysym = keysymOf(key);
  // The longest keysym names are under 30 characters.
  std::array<char, 64> name{};
  if (keysym == 0 || xkb_keysym_get_name(keysym, name.data(), name.size()) <= 0) return {};
  return name.data();
}

}  // namespace varek
