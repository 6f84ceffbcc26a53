// GioAppScanner over real desktop entries: system fixtures in tests/data reached through
// XDG_DATA_DIRS, user entries written into the test home's XDG_DATA_HOME while it runs.
#include "platform/linux/gio_app_scanner.h"
#include "tests/support/scoped_variable.h"

#include <gtest/gtest.h>

#include <QtCore/qtestsupport_core.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

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
constexpr int kNewEntryDeadlineMs = 20000;

fs::path entryPath(const std::string& id, bool user) {
  return (user ? fs::path(std::getenv("XDG_DATA_HOME")) / "applications"
               : fs::path(VAREK_TEST_DATA "/applications/share/applications")) /
         (id + ".desktop");
}

void writeFile(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << content;
}

using test::ScopedVariable;

std::vector<ScannedApp> entriesAt(const std::vector<ScannedApp>& list, const fs::path& path) {
  std::vector<ScannedApp> found;
  std::copy_if(list.begin(), list.end(), std::back_inserter(found),
               [&](const ScannedApp& app) { return app.path == path; });
  return found;
}

TEST(GioAppScanner, ListsEachEntryWhereItBelongs) {
  writeFile(entryPath("varek-shadowed", true),
            "[Desktop Entry]\nType=Application\nName=User Copy\nExec=true\n");
  // KDE modules run systemsettings, which GIO wants on PATH before it lists them.
  const fs::path bin = fs::path(std::getenv("TMPDIR")) / "scanner-bin";
  writeFile(bin / "systemsettings", "#!/bin/sh\n");
  fs::permissions(bin / "systemsettings", fs::perms::owner_all);
  const ScopedVariable path("PATH", bin.string() + ":" + std::getenv("PATH"));
  const ScopedVariable language("LANGUAGE", "de");
  const GioAppScanner scanner;
  const std::vector<ScannedApp> apps = scanner.scanApps();
  const std::vector<ScannedApp> settings = scanner.scanSettings();

  enum class In { apps, settings, neither };
  struct Row {
    const char* shows;
    std::string id;
    bool user;
    In in;
    std::string name;
    std::string alternateName;
  };
  const Row rows[] = {
      {"the untranslated name second", "varek-editor", false, In::apps, "Texteditor",
       "Text Editor"},
      {"no second name without a translation", "varek-plain", false, In::apps, "Plainview", ""},
      {"NoDisplay hides", "varek-helper", false, In::neither, "", ""},
      {"an Exec program missing from PATH hides", "varek-missing-program", false, In::neither, "",
       ""},
      {"a user entry shadows a system one", "varek-shadowed", true, In::apps, "User Copy", ""},
      {"the shadowed one is not listed", "varek-shadowed", false, In::neither, "", ""},
      {"a GNOME panel, named by its id", "gnome-varek-panel", false, In::settings, "Netzwerk",
       "gnome-varek-panel"},
      {"a KDE module run by systemsettings", "kcm_varek", false, In::settings,
       "Anzeige-Einrichtung", "kcm_varek"},
      {"a KDE settings category", "varek-kde-legacy", false, In::settings, "Input Devices",
       "varek-kde-legacy"},
      {"System Settings itself is an app", "varek-systemsettings", false, In::apps,
       "System Settings", ""},
      {"a shown XFCE dialog is only a setting", "xfce-varek-settings", false, In::settings,
       "Erscheinungsbild", "xfce-varek-settings"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.shows);
    const auto inApps = entriesAt(apps, entryPath(row.id, row.user));
    const auto inSettings = entriesAt(settings, entryPath(row.id, row.user));
    ASSERT_EQ(inApps.size(), row.in == In::apps ? 1u : 0u);
    ASSERT_EQ(inSettings.size(), row.in == In::settings ? 1u : 0u);
    if (row.in == In::neither) continue;
    const ScannedApp& entry = row.in == In::apps ? inApps.front() : inSettings.front();
    EXPECT_EQ(entry.name, row.name);
    EXPECT_EQ(entry.alternateName, row.alternateName);
    EXPECT_FALSE(entry.url.has_value());
  }
}

TEST(GioAppScanner, SeesAnEntryWrittenAfterAScan) {
  const GioAppScanner scanner;
  static int written = 0;
  const fs::path entry = entryPath("varek-fresh-" + std::to_string(++written), true);
  ASSERT_TRUE(entriesAt(scanner.scanApps(), entry).empty());
  writeFile(entry, "[Desktop Entry]\nType=Application\nName=Fresh\nExec=true\n");
  EXPECT_TRUE(QTest::qWaitFor([&] { return entriesAt(scanner.scanApps(), entry).size() == 1; },
                              kNewEntryDeadlineMs));
}

}  // namespace
}  // namespace varek
