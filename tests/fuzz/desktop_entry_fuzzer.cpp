// Desktop entries from arbitrary bytes, through the public scans: GIO parses the file,
// then our code splits Categories, reads the Exec line for KDE settings modules and
// compares names. Nothing may crash, and every app and pane scanned has its file.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "platform/linux/gio_app_scanner.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

namespace fs = std::filesystem;
using varek::fuzz::require;

fs::path applications;

}  // namespace

// GIO reads XDG_DATA_DIRS and XDG_DATA_HOME once per process, so they point at a private
// folder before its first use; each input then rewrites the same entry, which
// g_app_info_get_all reads again.
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
  // GIO lists an entry only when its Exec program is on PATH; these stand for the KDE
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
  // Keeps GIO from asking the session bus or dconf for anything.
  ::setenv("GIO_USE_VFS", "local", 1);
  ::setenv("GSETTINGS_BACKEND", "memory", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::ofstream(applications / "varek-fuzz.desktop", std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), std::streamsize(size));
  const varek::GioAppScanner scanner;
  for (const auto& app : scanner.scanApps()) {
    require(!app.path.empty(), "a scanned app has its file");
  }
  for (const auto& pane : scanner.scanSettings()) {
    require(!pane.path.empty(), "a settings pane has its file");
    require(pane.alternateName == "varek-fuzz", "a pane's second name is its desktop id");
  }
  return 0;
}
