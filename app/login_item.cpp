#include "app/login_item.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>

namespace varek {
namespace {

constexpr const char* kEntryPath = "/autostart/varek.desktop";
constexpr std::string_view kGroup = "[Desktop Entry]";
// Characters that make the Exec key's parser need the argument in double quotes.
constexpr std::string_view kReservedCharacters = " \t\n\"'\\><~|&;$*?#`()";
// Inside the double quotes these four need a backslash of their own.
constexpr std::string_view kEscapedInQuotes = "\"`$\\";

std::string trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return std::string(text.substr(first, last - first + 1));
}

// The Exec key's quoting comes first; the escapes of every string value (a backslash
// doubled, a line feed as \n) are applied on top of it, so a literal backslash ends up as
// four of them.
std::string execValue(const std::string& executable) {
  std::string argument;
  const bool quote = executable.find_first_of(kReservedCharacters) != std::string::npos;
  for (char character : executable) {
    if (quote && kEscapedInQuotes.find(character) != std::string_view::npos) argument += '\\';
    // A lone percent sign would start a field code such as %f.
    if (character == '%') argument += '%';
    argument += character;
  }
  if (quote) argument = '"' + argument + '"';
  std::string value;
  for (char character : argument) {
    if (character == '\\') {
      value += "\\\\";
    } else if (character == '\n') {
      value += "\\n";
    } else {
      value += character;
    }
  }
  return value;
}

// The program the user started: varek hands its commands to varek-desktop, which runs
// this, and names itself in VAREK_PROGRAM.
std::string runningProgram() {
  const char* program = std::getenv("VAREK_PROGRAM");
  if (program != nullptr && *program == '/') return program;
  return QCoreApplication::applicationFilePath().toStdString();
}

}  // namespace

LoginItem::LoginItem()
    : LoginItem(
          QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString() +
              kEntryPath,
          command(runningProgram(), QStandardPaths::findExecutable("varek").toStdString())) {}

std::string LoginItem::command(const std::string& running, const std::string& installed) {
  std::error_code error;
  if (!installed.empty() && std::filesystem::equivalent(running, installed, error)) {
    return "varek";
  }
  return running;
}

LoginItem::LoginItem(std::string file, std::string executable)
    : file_(std::move(file)), executable_(std::move(executable)) {}

bool LoginItem::enabled() const {
  std::ifstream stream(file_);
  if (!stream) return false;
  bool inGroup = false;
  bool sawGroup = false;
  std::string line;
  while (std::getline(stream, line)) {
    const std::string text = trimmed(line);
    if (text.starts_with('[')) {
      inGroup = text == kGroup;
      sawGroup = sawGroup || inGroup;
      continue;
    }
    const auto equals = text.find('=');
    if (!inGroup || equals == std::string::npos) continue;
    const std::string key = trimmed(std::string_view(text).substr(0, equals));
    const std::string value = trimmed(std::string_view(text).substr(equals + 1));
    if ((key == "Hidden" && value == "true") ||
        (key == "X-GNOME-Autostart-enabled" && value == "false")) {
      return false;
    }
  }
  return sawGroup;
}

bool LoginItem::setEnabled(bool enabled) {
  const QString path = QString::fromStdString(file_);
  if (!enabled) return !QFileInfo::exists(path) || QFile::remove(path);
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  const std::string text = entry(executable_);
  file.write(text.data(), static_cast<qint64>(text.size()));
  return file.commit();
}

std::string LoginItem::entry(const std::string& executable) {
  return std::string(kGroup) +
         "\n"
         "Type=Application\n"
         "Name=Varek\n"
         "Exec=" +
         execValue(executable) +
         "\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

}  // namespace varek
