#include "search/item.h"

#include <gtest/gtest.h>

namespace varek {
namespace {

// The label is what the row shows and what a kind is read back from; only the exact
// German label names a kind.
TEST(ItemKind, LabelsAreGermanAndReadBackExactly) {
  using enum Item::Kind;
  std::string labels;
  for (Item::Kind kind :
       {app, file, folder, calc, clipboard, command, setting, window, web, dictionary}) {
    labels += std::string(label(kind)) + ",";
    EXPECT_EQ(kindFromLabel(label(kind)), kind) << label(kind);
  }
  EXPECT_EQ(labels,
            "App,Datei,Ordner,Rechner,Zwischenablage,Befehl,Einstellung,Fenster,Web,Lexikon,");
  for (std::string_view wrong : {"app", "Fenster ", ""})
    EXPECT_EQ(kindFromLabel(wrong), std::nullopt);
}

}  // namespace
}  // namespace varek
