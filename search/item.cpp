#include "search/item.h"

#include <array>
#include <utility>

namespace varek {
namespace {

constexpr std::array<std::pair<Item::Kind, std::string_view>, 10> kLabels{{
    {Item::Kind::app, "App"},
    {Item::Kind::file, "Datei"},
    {Item::Kind::folder, "Ordner"},
    {Item::Kind::calc, "Rechner"},
    {Item::Kind::clipboard, "Zwischenablage"},
    {Item::Kind::command, "Befehl"},
    {Item::Kind::setting, "Einstellung"},
    {Item::Kind::window, "Fenster"},
    {Item::Kind::web, "Web"},
    {Item::Kind::dictionary, "Lexikon"},
}};

}  // namespace

std::string_view label(Item::Kind kind) {
  for (const auto& [candidate, text] : kLabels) {
    if (candidate == kind) return text;
  }
  return {};
}

std::optional<Item::Kind> kindFromLabel(std::string_view text) {
  for (const auto& [kind, candidate] : kLabels) {
    if (candidate == text) return kind;
  }
  return std::nullopt;
}

std::string loggedName(const Item& row) {
  if (row.kind == Item::Kind::clipboard) return "Eintrag der Zwischenablage";
  return "„" + row.title + "“";
}

}  // namespace varek
