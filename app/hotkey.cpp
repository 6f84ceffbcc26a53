#include "app/hotkey.h"

#include <QKeySequence>
#include <utility>

#include "app/key_symbol.h"

namespace varek {
namespace {

// Qt's portable names beside the German ones of the keyboard and of this program.
constexpr std::pair<std::string_view, std::string_view> kGermanNames[] = {
    {"Ctrl", "Strg"},       {"Meta", "Super"},     {"Shift", "Umschalt"},
    {"Space", "Leertaste"}, {"Return", "Eingabe"}, {"Backspace", "Rücktaste"},
    {"Del", "Entf"},        {"Ins", "Einfg"},      {"PgUp", "Bild auf"},
    {"PgDown", "Bild ab"},  {"Home", "Pos1"},      {"End", "Ende"},
    {"Left", "Links"},      {"Right", "Rechts"},   {"Up", "Hoch"},
    {"Down", "Runter"},
};

// What versions before stored: the glyph of the modifier (written as its code point, since
// it is never shown here) and the German key name. Only parse() reads them, so that an old
// defaults file keeps its choice.
const std::pair<std::string_view, QKeyCombination> kStoredGlyphLabels[] = {
    {"\u2325 Leertaste", Hotkey::kPresets[0]},
    {"\u2303 Leertaste", Hotkey::kPresets[1]},
    {"\u2318 Leertaste", Hotkey::kPresets[2]},
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

Hotkey::Hotkey(Defaults& defaults) : Hotkey(defaults, makeKeyBinder()) {}

Hotkey::Hotkey(Defaults& defaults, std::unique_ptr<KeyBinder> binder)
    : defaults_(defaults), binder_(std::move(binder)) {
  binder_->setOnPress([this] {
    if (onPress_) onPress_();
  });
}

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
  return status_ = binder_->bind(combination);
}

bool Hotkey::agree() {
  const bool written = binder_->agree(combination());
  registerKey();
  return written && registered();
}

void Hotkey::withdraw() {
  binder_->withdraw();
  registerKey();
}

void Hotkey::unregisterKey() {
  status_ = Status::off;
  binder_->unbind();
}

}  // namespace varek
