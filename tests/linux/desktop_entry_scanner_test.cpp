// The desktop entries over real files. GIO's own listing (gio_entries, run with the same
// environment) is the reference for the XDG rules, over a tree made to hit each rule and
// over the benchmark fixture; tests/data holds entries for the split into applications
// and settings panes.
#include "platform/linux/desktop_entry_scanner.h"
#include "platform/linux/desktop_entries.h"
#include "tests/support/desktop_fixtures.h"
#include "tests/support/scoped_variable.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <tuple>

namespace varek {
namespace {

namespace fs = std::filesystem;

std::string entry(const std::string& name, const std::string& more = "",
                  const std::string& exec = "true") {
  return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + "\n" + more;
}

// As gio_entries prints it: "id<TAB>file<TAB>name<TAB>1 when a menu shows it<TAB>
// StartupWMClass" per entry.
std::string listing(const std::vector<DesktopEntry>& entries) {
  std::string lines;
  for (const DesktopEntry& entry : entries) {
    const bool shown = !entry.noDisplay && entry.shownOnDesktop;
    lines += entry.id + "\t" + entry.path + "\t" + entry.name + "\t" + (shown ? "1\t" : "0\t") +
             entry.startupWindowClass + "\n";
  }
  return lines;
}

TEST(DesktopEntries, ReadsAsGioDoes) {
  const fs::path root = fs::temp_directory_path() / "desktop-rules";
  const fs::path bin = root / "bin", laterBin = root / "later-bin";
  const std::string user = "home/applications/", first = "first/applications/";
  const std::map<std::string, std::string> files = {
      {user + "shadowed.desktop", entry("Home Copy")},
      {user + "hidden-shadow.desktop", entry("Hidden Shadow", "Hidden=true\n")},
      {first + "shadowed.desktop", entry("First Copy")},
      {first + "hidden-shadow.desktop", entry("Hidden by the shadow")},
      {first + "vendor/sub/tool.desktop", entry("Vendor Tool", "StartupWMClass=Vendor\\sTool\n")},
      {"second/applications/vendor-sub-tool.desktop", entry("Flat Tool")},
      {first + "localised.desktop",
       entry("Editor", "Name[de]=Bearbeiter\nName[de_DE]=Texteditor\n")},
      {first + "full-name.desktop", entry("Short", "X-GNOME-FullName=Long Name\n")},
      {first + "no-display.desktop", entry("No Display", "NoDisplay=true\n")},
      // Named by their ids, which the rows below list.
      {first + "only-gnome.desktop", entry("only-gnome", "OnlyShowIn=GNOME;\n")},
      {first + "not-gnome.desktop", entry("not-gnome", "NotShowIn=GNOME;\n")},
      {first + "kde-first.desktop", entry("kde-first", "OnlyShowIn=KDE;\nNotShowIn=GNOME;\n")},
      {first + "shown-nowhere.desktop", entry("shown-nowhere", "OnlyShowIn=\n")},
      {first + "try-exec-found.desktop", entry("TryExec Found", "TryExec=varek-tool\n")},
      {first + "try-exec-missing.desktop", entry("TryExec Missing", "TryExec=varek-none\n")},
      {first + "exec-missing.desktop", entry("Exec Missing", "", "varek-none %U")},
      {first + "exec-absolute.desktop", entry("Exec Absolute", "", "/bin/true --flag")},
      {first + "exec-absolute-missing.desktop", entry("Exec Gone", "", "/nonexistent/true")},
      {first + "exec-not-executable.desktop", entry("Exec Plain", "", "varek-plain")},
      {first + "exec-folder.desktop", entry("Exec Folder", "", "varek-folder")},
      {first + "exec-later-folder.desktop", entry("Exec Later", "", "varek-tool %F")},
      {first + "exec-quoted.desktop",
       entry("Exec Quoted", "", "\"" + laterBin.string() + "/a b\"")},
      {first + "exec-unparsable.desktop", entry("Exec Unparsable", "", "\"true")},
      {first + "no-exec.desktop", "[Desktop Entry]\nType=Application\nName=No Exec\n"},
      {first + "link.desktop", "[Desktop Entry]\nType=Link\nName=Link\nURL=file:///\n"},
      {first + "other-group.desktop", "[Other]\n[Desktop Entry]\nType=Application\nName=X\n"},
  };
  fs::remove_all(root);
  for (const auto& [file, text] : files) test::writeFile(root / file, text);
  // The first PATH folder holds varek-tool without the right to run it: GIO looks on.
  test::writeFile(bin / "varek-tool", "");
  test::writeFile(bin / "varek-plain", "");
  fs::create_directories(bin / "varek-folder");
  test::writeScript(laterBin / "varek-tool", "");
  test::writeScript(laterBin / "a b", "");
  const test::ScopedVariable path("PATH",
                                  bin.string() + ":" + laterBin.string() + ":/usr/bin:/bin");
  const test::ScopedVariable dataHome("XDG_DATA_HOME", (root / "home").string());
  const test::ScopedVariable dataDirs("XDG_DATA_DIRS",
                                      (root / "first").string() + ":" + (root / "second").string());
  const test::ScopedVariable lcAll("LC_ALL", nullptr);

  // Per row: the localised entry's name, then those of the entries named by their ids
  // that show on this desktop.
  const std::tuple<const char*, const char*, const char*, const char*, const char*, std::string>
      rows[] = {
          // rule, XDG_CURRENT_DESKTOP, LANGUAGE, LC_MESSAGES, LANG, expected
          {"no desktop named: only entries without OnlyShowIn; de_DE.UTF-8 → de_DE", nullptr,
           nullptr, nullptr, "de_DE.UTF-8", "Texteditor not-gnome"},
          {"an empty list names no desktop; LANGUAGE before LANG", "", "de", nullptr, "fr_FR",
           "Bearbeiter not-gnome"},
          {"GNOME; LC_MESSAGES before LANG, de_AT.UTF-8 → de", "GNOME", nullptr, "de_AT.UTF-8", "C",
           "Bearbeiter only-gnome"},
          {"the first named desktop that a list holds decides; fr → Name", "KDE:GNOME", nullptr,
           nullptr, "fr_FR.UTF-8", "Editor kde-first only-gnome"},
      };
  for (const auto& [rule, desktops, language, messages, lang, expected] : rows) {
    const test::ScopedVariable desktop("XDG_CURRENT_DESKTOP", desktops);
    const test::ScopedVariable languageVariable("LANGUAGE", language);
    const test::ScopedVariable messagesVariable("LC_MESSAGES", messages);
    const test::ScopedVariable langVariable("LANG", lang);
    const std::vector<DesktopEntry> entries = readDesktopEntries(DesktopEnvironment::current());
    EXPECT_EQ(listing(entries), Commands::shellOutput(VAREK_GIO_ENTRIES, {})) << rule;
    std::string shown;
    for (const DesktopEntry& entry : entries) {
      if (entry.id == "localised.desktop") shown = entry.name + shown;
      if (entry.id == entry.name + ".desktop" && entry.shownOnDesktop) shown += " " + entry.name;
    }
    EXPECT_EQ(shown, expected) << rule;
  }

  // The benchmark fixture: 358 applications and 30 settings panes.
  const test::ScopedVariable emptyHome("XDG_DATA_HOME", (root / "empty").string());
  const test::ScopedVariable fixture("XDG_DATA_DIRS", VAREK_FIXTURE_SHARE);
  const std::vector<DesktopEntry> entries = readDesktopEntries(DesktopEnvironment::current());
  EXPECT_EQ(entries.size(), 388u);
  EXPECT_EQ(listing(entries), Commands::shellOutput(VAREK_GIO_ENTRIES, {}));
  fs::remove_all(root);
}

// The cache answers only for the very files it was made from, and a broken one is read past.
TEST(DesktopEntries, CacheFollowsEveryChangeOfTheFiles) {
  const fs::path root = fs::temp_directory_path() / "desktop-cache";
  fs::remove_all(root);
  const fs::path file = root / "applications/alpha.desktop";
  const DesktopEnvironment environment{.dataFolders = {root.string()},
                                       .searchPath = std::getenv("PATH"),
                                       .desktops = {},
                                       .cacheFile = (root / "cache/entries").string()};
  const auto write = [&](const std::string& name, bool keepTime) {
    const auto time = fs::exists(file) ? fs::last_write_time(file) : fs::file_time_type();
    test::writeFile(file, entry(name));
    if (keepTime) fs::last_write_time(file, time);
  };
  const auto names = [&] {
    std::string result;
    for (const DesktopEntry& read : readDesktopEntries(environment)) result += read.name + ";";
    return result;
  };
  write("Alpha", false);
  const std::tuple<const char*, std::function<void()>, std::string> steps[] = {
      {"first reading", [] {}, "Alpha;"},
      // Same size, same time, same inode: only the cache can still say Alpha.
      {"unseen edit", [&] { write("Omega", true); }, "Alpha;"},
      {"edit", [&] { write("Omega", false); }, "Omega;"},
      {"new file", [&] { test::writeFile(root / "applications/beta.desktop", entry("Beta")); },
       "Omega;Beta;"},
      {"broken cache", [&] { test::writeFile(environment.cacheFile, "varek desktop entries 1\n9:"); },
       "Omega;Beta;"},
  };
  for (const auto& [step, change, expected] : steps) {
    change();
    EXPECT_EQ(names(), expected) << step;
  }
  EXPECT_EQ(names(), "Omega;Beta;");
  fs::remove_all(root);
}

TEST(DesktopEntryScanner, ListsEachEntryWhereItBelongs) {
  const fs::path home = fs::temp_directory_path() / "scanner-home";
  const fs::path bin = fs::temp_directory_path() / "scanner-bin";
  // KDE modules run systemsettings, which must be on PATH for them to be listed.
  test::writeScript(bin / "systemsettings", "");
  const test::ScopedVariable path("PATH", bin.string() + ":" + std::getenv("PATH"));
  const test::ScopedVariable dataHome("XDG_DATA_HOME", home.string());
  const test::ScopedVariable dataDirs("XDG_DATA_DIRS", VAREK_TEST_DATA "/applications/share");
  const test::ScopedVariable language("LANGUAGE", "de");
  // Where each entry is listed, by path: "apps: NAME / SECOND NAME (DESCRIPTION)" or
  // "settings: …", once.
  const auto where = [](const char* desktops) {
    const test::ScopedVariable desktop("XDG_CURRENT_DESKTOP", desktops);
    const AppScan scan = DesktopEntryScanner().scan();
    std::map<std::string, std::string> result;
    for (const auto& [list, kind] : {std::pair{scan.apps, "apps"}, {scan.settings, "settings"}}) {
      for (const ScannedApp& app : list) {
        result[app.path] += std::string(kind) + ": " + app.name + " / " + app.alternateName +
                            (app.description.empty() ? "" : " (" + app.description + ")") +
                            (app.url ? " with an address" : "");
      }
    }
    return result;
  };
  auto unnamed = where(nullptr);
  // Written between two scans, which read the folders afresh.
  std::string huge;  // 1000 characters of two scalars each
  for (int character = 0; character < 1000; ++character) huge += "e\u0301";
  test::writeFile(home / "applications/varek-huge.desktop",
                  entry(huge, "GenericName=G" + huge + "\n"));
  auto kde = where("KDE");
  fs::remove_all(home);
  // The untranslated name comes second; settings panes are named by their ids. An app is
  // described by its GenericName, else its Comment, else its program.
  const std::pair<const char*, std::string> rows[] = {
      {"varek-editor", "apps: Texteditor / Text Editor (Bearbeiter)"},
      {"varek-plain", "apps: Plainview /  (Zeigt Dateien)"},
      {"varek-plain-too", "apps: Plainview /  (true)"},  // Exec's program, without its folder
      {"varek-helper", ""},                              // NoDisplay
      {"gnome-varek-panel", "settings: Netzwerk / gnome-varek-panel"},
      {"kcm_varek", "settings: Anzeige-Einrichtung / kcm_varek"},          // runs systemsettings
      {"varek-kde-legacy", "settings: Input Devices / varek-kde-legacy"},  // by category
      {"varek-systemsettings",  // the settings app itself; its GenericName repeats the name
       "apps: System Settings /  (systemsettings)"},
      {"xfce-varek-settings", "settings: Erscheinungsbild / xfce-varek-settings"},
  };
  const auto file = [](const std::string& id) {
    return VAREK_TEST_DATA "/applications/share/applications/" + id + ".desktop";
  };
  for (const auto& [id, expected] : rows) {
    EXPECT_EQ(unnamed[file(id)], expected) << id;
    // Under KDE, GNOME's panel (OnlyShowIn=GNOME) and an app kept from KDE go.
    const bool gone = id == std::string("gnome-varek-panel") || id == std::string("varek-plain");
    EXPECT_EQ(kde[file(id)], gone ? "" : expected) << id << " under KDE";
  }
  EXPECT_EQ(unnamed[(home / "applications/varek-huge.desktop").string()], "");
  EXPECT_EQ(kde[(home / "applications/varek-huge.desktop").string()],  // 300 characters each
            "apps: " + huge.substr(0, 300 * 3) + " /  (G" + huge.substr(0, 299 * 3) + ")");
}

}  // namespace
}  // namespace varek
