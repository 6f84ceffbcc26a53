#include "search/item.h"

#include <gtest/gtest.h>

namespace varek {
namespace {

// The label is what the row shows and what a kind is read back from; only the exact
// German label names a kind.
TEST(ItemKind, LabelsAreGermanAndReadBackExactly) {
  const std::pair<Item::Kind, std::string_view> rows[] = {
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
  };
  for (const auto& [kind, text] : rows) {
    EXPECT_EQ(label(kind), text);
    EXPECT_EQ(kindFromLabel(text), kind) << text;
  }
  for (std::string_view wrong : {"app", "APP", "Fenster ", "", "Programm"}) {
    EXPECT_EQ(kindFromLabel(wrong), std::nullopt) << wrong;
  }
}

}  // namespace
}  // namespace varek
