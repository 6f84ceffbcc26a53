#include "app/hotkey.h"

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <QGuiApplication>
#include <QKeySequence>
#include <cstdlib>
#include <memory>
#include <utility>

namespace varek {
namespace {

constexpr xcb_keysym_t kNumLockSymbol = 0xff7f;  // XK_Num_Lock
// Function keys are consecutive in both Qt and X11: XK_F1 onwards.
constexpr xcb_keysym_t kF1Symbol = 0xffbe;
// Shift, Lock, Control and Mod1 to Mod5; the bits above are mouse buttons held down.
constexpr std::uint16_t kModifierBits = 0x00ff;
// The high bit of an event's type marks one that a client sent; it is the same key.
constexpr std::uint8_t kEventTypeBits = 0x7f;
constexpr int kModifierCount = 8;
// Qt's key codes of printable Latin-1 keys are their (upper-case) characters, and so are
// X11's keysyms of them, only in lower case.
constexpr int kLatin1First = 0x20, kAsciiLast = 0x7e, kLatin1UpperFirst = 0xa0, kLatin1Last = 0xff;

// The keys other than characters and function keys that make sense in a combination.
constexpr std::pair<Qt::Key, xcb_keysym_t> kSpecialKeys[] = {
    {Qt::Key_Escape, 0xff1b}, {Qt::Key_Tab, 0xff09},      {Qt::Key_Backspace, 0xff08},
    {Qt::Key_Return, 0xff0d}, {Qt::Key_Enter, 0xff8d},    {Qt::Key_Insert, 0xff63},
    {Qt::Key_Delete, 0xffff}, {Qt::Key_Pause, 0xff13},    {Qt::Key_Print, 0xff61},
    {Qt::Key_Home, 0xff50},   {Qt::Key_End, 0xff57},      {Qt::Key_Left, 0xff51},
    {Qt::Key_Up, 0xff52},     {Qt::Key_Right, 0xff53},    {Qt::Key_Down, 0xff54},
    {Qt::Key_PageUp, 0xff55}, {Qt::Key_PageDown, 0xff56}, {Qt::Key_Menu, 0xff67},
};

// Qt's portable names beside the German ones of the keyboard and of this program.
constexpr std::pair<std::string_view, std::string_view> kGermanNames[] = {
    {"Ctrl", "Strg"},       {"Meta", "Super"},     {"Shift", "Umschalt"},
    {"Space", "Leertaste"}, {"Return", "Eingabe"}, {"Backspace", "Rücktaste"},
    {"Del", "Entf"},        {"Ins", "Einfg"},      {"PgUp", "Bild auf"},
    {"PgDown", "Bild ab"},  {"Home", "Pos1"},      {"End", "Ende"},
    {"Left", "Links"},      {"Right", "Rechts"},   {"Up", "Hoch"},
    {"Down", "Runter"},
};

// What versions before stored: the glyph of the modifier and the German key name. Only
// parse() reads them, so that an old defaults file keeps its choice; nothing shows them.
const std::pair<std::string_view, QKeyCombination> kStoredGlyphLabels[] = {
    {"⌥ Leertaste", Hotkey::kPresets[0]},
    {"⌃ Leertaste", Hotkey::kPresets[1]},
    {"⌘ Leertaste", Hotkey::kPresets[2]},
};

enum class Names { portable, german };

QString text(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// Each name between the plus signs in the other language where it has one. A plus sign
// that is the key itself ("Ctrl++") leaves an empty name and stays as it is.
QString translated(const QString& combination, Names to) {
  QString result;
  for (qsizetype start = 0; start <= combination.size();) {
    qsizetype end = combination.indexOf(u'+', start);
    if (end < 0) end = combination.size();
    QString name = combination.mid(start, end - start).trimmed();
    for (const auto& [portable, german] : kGermanNames) {
      const QString from = text(to == Names::portable ? german : portable);
      if (name.compare(from, Qt::CaseInsensitive) == 0) {
        name = text(to == Names::portable ? portable : german);
        break;
      }
    }
    result += name;
    if (end < combination.size()) result += u'+';
    start = end + 1;
  }
  return result;
}

xcb_keysym_t keysymOf(Qt::Key key) {
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

struct XcbFree {
  void operator()(void* memory) const { std::free(memory); }
};
template <typename T>
using XcbOwned = std::unique_ptr<T, XcbFree>;

// The grab has to live on Qt's own connection: only there do the key events reach the
// event filter, on the main thread.
xcb_connection_t* qtConnection() {
  if (qGuiApp == nullptr) return nullptr;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 != nullptr ? x11->connection() : nullptr;
}

xcb_keycode_t keycodeOf(xcb_key_symbols_t* symbols, xcb_keysym_t symbol) {
  XcbOwned<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(symbols, symbol));
  return codes ? codes.get()[0] : 0;
}

// NumLock sits on whichever of Mod1 to Mod5 the keymap gives it, usually Mod2.
std::uint16_t numLockMask(xcb_connection_t* connection, xcb_keycode_t numLock) {
  if (numLock == 0) return 0;
  XcbOwned<xcb_get_modifier_mapping_reply_t> mapping(
      xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr));
  if (!mapping) return 0;
  const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mapping.get());
  const int perModifier = mapping->keycodes_per_modifier;
  for (int modifier = 0; modifier < kModifierCount; ++modifier) {
    for (int index = 0; index < perModifier; ++index) {
      if (codes[modifier * perModifier + index] == numLock) {
        return static_cast<std::uint16_t>(1U << modifier);
      }
    }
  }
  return 0;
}

}  // namespace

std::optional<QKeyCombination> Hotkey::parse(std::string_view stored) {
  for (const auto& [glyphs, combination] : kStoredGlyphLabels) {
    if (stored == glyphs) return combination;
  }
  const QKeySequence sequence = QKeySequence::fromString(translated(text(stored), Names::portable),
                                                         QKeySequence::PortableText);
  if (sequence.count() != 1 || refusal(sequence[0])) return std::nullopt;
  return sequence[0];
}

std::string Hotkey::portableText(QKeyCombination combination) {
  return QKeySequence(combination).toString(QKeySequence::PortableText).toStdString();
}

QString Hotkey::label(QKeyCombination combination) {
  return translated(QKeySequence(combination).toString(QKeySequence::PortableText), Names::german);
}

std::optional<QString> Hotkey::refusal(QKeyCombination combination) {
  if (keysymOf(combination.key()) == 0) {
    return QString("Diese Taste kann kein Tastenkürzel sein. Bitte eine andere wählen.");
  }
  const Qt::KeyboardModifiers needed = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
  if (!(combination.keyboardModifiers() & needed)) {
    return QString(
               "„%1“ allein geht nicht: Varek würde die Taste beim Tippen in jedem "
               "Programm abfangen. Bitte zusammen mit Strg, Alt oder Super drücken.")
        .arg(label(combination));
  }
  return std::nullopt;
}

std::uint16_t Hotkey::modifiers(QKeyCombination combination) {
  const Qt::KeyboardModifiers held = combination.keyboardModifiers();
  std::uint16_t mask = 0;
  if (held & Qt::ShiftModifier) mask |= XCB_MOD_MASK_SHIFT;
  if (held & Qt::ControlModifier) mask |= XCB_MOD_MASK_CONTROL;
  if (held & Qt::AltModifier) mask |= XCB_MOD_MASK_1;
  if (held & Qt::MetaModifier) mask |= XCB_MOD_MASK_4;
  return mask;
}

Hotkey::Hotkey(Defaults& defaults) : defaults_(defaults) {}

Hotkey::~Hotkey() { unregisterKey(); }

QKeyCombination Hotkey::combination() const {
  const std::optional<std::string> stored = defaults_.string(kDefaultsKey);
  return stored ? parse(*stored).value_or(kPresets[0]) : kPresets[0];
}

void Hotkey::setCombination(QKeyCombination combination) {
  defaults_.setString(kDefaultsKey, portableText(combination));
  registerKey();
}

Hotkey::Status Hotkey::grab(QKeyCombination combination) {
  unregisterKey();
  if (refusal(combination)) return status_ = Status::refused;
  xcb_connection_t* connection = qtConnection();
  if (connection == nullptr) return status_ = Status::noDisplay;
  if (!installed_) {
    qGuiApp->installNativeEventFilter(this);
    installed_ = true;
  }

  root_ = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
  xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection);
  keycode_ = keycodeOf(symbols, keysymOf(combination.key()));
  const xcb_keycode_t numLock = keycodeOf(symbols, kNumLockSymbol);
  xcb_key_symbols_free(symbols);
  if (keycode_ == 0) return status_ = Status::missingKey;

  // A grab matches its modifiers exactly, so CapsLock or NumLock being on would otherwise
  // silence the hotkey: each combination of the two is grabbed as well.
  const std::uint16_t numLockBit = numLockMask(connection, numLock);
  ignoredModifiers_ = static_cast<std::uint16_t>(XCB_MOD_MASK_LOCK | numLockBit);
  modifiers_ = modifiers(combination);
  std::vector<std::uint16_t> variants = {0, XCB_MOD_MASK_LOCK};
  if (numLockBit != 0) {
    variants.push_back(numLockBit);
    variants.push_back(static_cast<std::uint16_t>(numLockBit | XCB_MOD_MASK_LOCK));
  }

  // Without owner events, a press reaches us relative to the root window even while our
  // own panel has the focus, which is how the event filter knows it.
  std::vector<xcb_void_cookie_t> cookies;
  for (std::uint16_t variant : variants) {
    cookies.push_back(xcb_grab_key_checked(connection, 0, root_,
                                           static_cast<std::uint16_t>(modifiers_ | variant),
                                           keycode_, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
  }
  // BadAccess means another client holds the combination; any refusal counts as taken.
  bool taken = false;
  for (std::size_t index = 0; index < cookies.size(); ++index) {
    XcbOwned<xcb_generic_error_t> error(xcb_request_check(connection, cookies[index]));
    if (error) {
      taken = true;
    } else {
      grabs_.push_back(static_cast<std::uint16_t>(modifiers_ | variants[index]));
    }
  }
  if (taken) {
    unregisterKey();
    return status_ = Status::taken;
  }
  return status_ = Status::registered;
}

void Hotkey::unregisterKey() {
  held_ = false;
  status_ = Status::off;
  if (grabs_.empty()) return;
  xcb_connection_t* connection = qtConnection();
  if (connection != nullptr) {
    for (std::uint16_t mask : grabs_) xcb_ungrab_key(connection, keycode_, root_, mask);
    // A round trip: once it returns, the server has let go, and another client (or the
    // next registration) finds the combination free.
    XcbOwned<xcb_get_input_focus_reply_t> done(
        xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
  }
  grabs_.clear();
}

bool Hotkey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (grabs_.empty() || eventType != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  const std::uint8_t type = event->response_type & kEventTypeBits;
  if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) return false;
  // The grab reports relative to the root window, which tells our combination apart from
  // the same keys typed into the panel.
  const auto* key = static_cast<const xcb_key_press_event_t*>(message);
  if (key->event != root_ || key->detail != keycode_) return false;
  if (type == XCB_KEY_RELEASE) {
    held_ = false;
    lastRelease_ = key->time;
    return false;
  }
  if ((key->state & kModifierBits & ~ignoredModifiers_) != modifiers_) return false;
  // Holding the keys repeats the press, as a press after a press or, where the X server
  // repeats keys the old way, as a release and a press with the same time stamp. Either
  // is one press: the panel would flicker open and shut.
  const bool repeat = held_ || key->time == lastRelease_;
  held_ = true;
  if (!repeat && onPress_) onPress_();
  return true;
}

}  // namespace varek
