// Desktop entries from arbitrary bytes, through the public scan: GKeyFile parses the file,
// then our code checks Type, Hidden and the programs, splits Categories, reads the Exec
// line for KDE settings modules and compares names. Nothing may crash, and every app and
// pane scanned has its file.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "platform/linux/desktop_entry_scanner.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

namespace fs = std::filesystem;
using varek::fuzz::require;

fs::path applications;

}  // namespace

// The data folders point at a private one; each input rewrites the same entry, which
// every scan reads again.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const fs::path root =
      fs::temp_directory_path() / ("varek-desktop-entry-fuzz-" + std::to_string(::getpid()));
  fs::remove_all(root);
  applications = root / "data" / "applications";
  fs::create_directories(applications);
  fs::create_directories(root / "home");
  ::setenv("XDG_DATA_DIRS", (root / "data").c_str(), 1);
  for (const char* home : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"}) {
    ::setenv(home, (root / "home").c_str(), 1);
  }
  // An entry is listed only when its Exec program is on PATH; these stand for the KDE
  // programs whose arguments name a settings module.
  const fs::path bin = root / "bin";
  fs::create_directories(bin);
  for (const char* program : {"systemsettings", "systemsettings5", "kcmshell5", "kcmshell6"}) {
    std::ofstream(bin / program) << "#!/bin/sh\n";
    fs::permissions(bin / program, fs::perms::owner_all);
  }
  const char* path = ::getenv("PATH");
  ::setenv("PATH", (bin.string() + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
  // No desktop is named, so the panes of every desktop count and all our code runs.
  ::unsetenv("XDG_CURRENT_DESKTOP");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::ofstream(applications / "varek-fuzz.desktop", std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), std::streamsize(size));
  const varek::AppScan scanned = varek::DesktopEntryScanner().scan();
  for (const auto& app : scanned.apps) {
    require(!app.path.empty(), "a scanned app has its file");
  }
  for (const auto& pane : scanned.settings) {
    require(!pane.path.empty(), "a settings pane has its file");
    require(pane.alternateName == "varek-fuzz", "a pane's second name is its desktop id");
  }
  return 0;
}
