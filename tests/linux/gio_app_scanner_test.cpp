// GioAppScanner over real desktop entries: system fixtures in tests/data reached through
// XDG_DATA_DIRS, user entries written into the test home's XDG_DATA_HOME while it runs.
#include "platform/linux/gio_app_scanner.h"
#include "tests/support/scoped_variable.h"

#include <gtest/gtest.h>

#include <QtCore/qtestsupport_core.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace varek {
namespace {

namespace fs = std::filesystem;

// GLib reads XDG_DATA_DIRS once per process, so the fixtures join it before anything
// runs; the system folders stay, for the other tests' sake.
[[maybe_unused]] const bool kFixturesOnDataDirs = [] {
  const char* current = std::getenv("XDG_DATA_DIRS");
  const std::string dirs =
      VAREK_TEST_DATA "/applications/share:" +
      std::string(current && *current ? current : "/usr/local/share:/usr/share");
  return setenv("XDG_DATA_DIRS", dirs.c_str(), 1) == 0;
}();
// GIO's folder monitor notices a new entry within about 100 ms; this only bounds a failure.
constexpr int kNewEntryDeadlineMs = 20'000;

fs::path entryPath(const std::string& id, bool user) {
  return (user ? fs::path(std::getenv("XDG_DATA_HOME")) / "applications"
               : fs::path(VAREK_TEST_DATA "/applications/share/applications")) /
         (id + ".desktop");
}

void writeFile(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << content;
}

TEST(GioAppScanner, ListsEachEntryWhereItBelongs) {
  const std::string entry = "[Desktop Entry]\nType=Application\nExec=true\nName=";
  writeFile(entryPath("varek-shadowed", true), entry + "User Copy\n");
  std::string huge;  // 1000 characters of two scalars each
  for (int character = 0; character < 1000; ++character) huge += "e\u0301";
  writeFile(entryPath("varek-huge", true), entry + huge + "\nGenericName=G" + huge + "\n");
  // KDE modules run systemsettings, which GIO wants on PATH before it lists them.
  const fs::path bin = fs::path(std::getenv("TMPDIR")) / "scanner-bin";
  writeFile(bin / "systemsettings", "#!/bin/sh\n");
  fs::permissions(bin / "systemsettings", fs::perms::owner_all);
  const test::ScopedVariable path("PATH", bin.string() + ":" + std::getenv("PATH"));
  const test::ScopedVariable language("LANGUAGE", "de");
  const GioAppScanner scanner;
  // Where each entry is listed, by path: "apps: NAME / SECOND NAME (DESCRIPTION)" or
  // "settings: …", once.
  std::map<std::string, std::string> where;
  for (const auto& [list, kind] :
       {std::pair{scanner.scanApps(), "apps"}, {scanner.scanSettings(), "settings"}}) {
    for (const ScannedApp& app : list) {
      where[app.path] += std::string(kind) + ": " + app.name + " / " + app.alternateName +
                         (app.description.empty() ? "" : " (" + app.description + ")") +
                         (app.url ? " with an address" : "");
    }
  }
  // The untranslated name comes second; settings panes are named by their ids. An app is
  // described by its GenericName, else its Comment, else its program.
  const std::tuple<const char*, bool, std::string> rows[] = {
      {"varek-editor", false, "apps: Texteditor / Text Editor (Bearbeiter)"},
      {"varek-plain", false, "apps: Plainview /  (Zeigt Dateien)"},
      {"varek-plain-too", false,
       "apps: Plainview /  (true)"},                          // Exec's program, without its folder
      {"varek-helper", false, ""},                            // NoDisplay
      {"varek-missing-program", false, ""},                   // its Exec program is not on PATH
      {"varek-shadowed", true, "apps: User Copy /  (true)"},  // a user entry shadows a system one
      {"varek-shadowed", false, ""},
      {"varek-huge", true,  // 300 characters each
       "apps: " + huge.substr(0, 300 * 3) + " /  (G" + huge.substr(0, 299 * 3) + ")"},
      {"gnome-varek-panel", false, "settings: Netzwerk / gnome-varek-panel"},
      {"kcm_varek", false, "settings: Anzeige-Einrichtung / kcm_varek"},  // runs systemsettings
      {"varek-kde-legacy", false, "settings: Input Devices / varek-kde-legacy"},  // by category
      {"varek-systemsettings", false,  // the settings app itself; its GenericName repeats the name
       "apps: System Settings /  (systemsettings)"},
      {"xfce-varek-settings", false, "settings: Erscheinungsbild / xfce-varek-settings"},
  };
  for (const auto& [id, user, expected] : rows) {
    EXPECT_EQ(where[entryPath(id, user).string()], expected) << id;
  }
}

TEST(GioAppScanner, SeesAnEntryWrittenAfterAScan) {
  const GioAppScanner scanner;
  static int written = 0;
  const fs::path entry = entryPath("varek-fresh-" + std::to_string(++written), true);
  const auto listed = [&] {
    return std::ranges::count(scanner.scanApps(), entry.string(), &ScannedApp::path);
  };
  ASSERT_EQ(listed(), 0);
  writeFile(entry, "[Desktop Entry]\nType=Application\nName=Fresh\nExec=true\n");
  EXPECT_TRUE(QTest::qWaitFor([&] { return listed() == 1; }, kNewEntryDeadlineMs));
}

}  // namespace
}  // namespace varek
