// One row of the launcher's list: what it shows, how it ranks, and what Return does.
// Every source produces Items; the model runs any of them the same way through `run`.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace varek {

// The desktop's named accent colours; the interface decides their exact shade.
enum class SystemColor { gray, indigo, teal, purple, pink, blue, red, orange, mint, brown };

struct Item {
  enum class Kind { app, file, folder, calc, clipboard, command, setting, window, web, dictionary };

  // What is drawn at the left of the row.
  struct Icon {
    struct File {
      std::string path;  // drawn as the desktop's icon for that file, folder or app
      bool operator==(const File&) const = default;
    };
    struct Symbol {
      std::string name;  // a symbol image name, tinted with color
      SystemColor color;
      bool operator==(const Symbol&) const = default;
    };
    struct Text {
      std::string text;  // a short glyph drawn instead of an image
      bool operator==(const Text&) const = default;
    };
    std::variant<File, Symbol, Text> value;
    bool operator==(const Icon&) const = default;
  };

  // The identity of the row: the list, the learning store and the confirmation step all
  // treat two items with the same id as the same row, whatever else differs.
  std::string id;
  std::string title;
  std::string subtitle;
  Kind kind;
  Icon icon;
  double score;
  std::optional<std::string> path;
  std::optional<std::string> copyText;
  bool needsConfirm;
  bool keepsOpen;
  // Runs on the main thread, after the panel hid (unless keepsOpen).
  std::function<void()> run;
};

// The German label shown on a row of this kind ("App", "Datei", …).
std::string_view label(Item::Kind kind);
// The kind whose label is exactly this text; case matters.
std::optional<Item::Kind> kindFromLabel(std::string_view label);
// How the log names a row: by its title, but a clipboard entry only as one, since its
// text is whatever the user copied.
std::string loggedName(const Item& row);

}  // namespace varek
