// The varek binary. It answers help, version, `varek query` and `varek bench` itself, with
// what a search reads (Qt Core, GLib, xcb, ICU), and hands every other command to
// varek-desktop (desktop_main.cpp), which links Qt GUI, Widgets and D-Bus as acting on the
// desktop needs: a query then loads half the libraries, and starts in a fraction of the time.
#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/command_search.h"
#include "platform/linux/linux_platform.h"
#include "search/bench.h"

namespace {

using varek::CommandLine;

constexpr const char* kDesktopProgram = "varek-desktop";
// Tells varek-desktop which program the user runs, for the autostart entry it writes.
constexpr const char* kProgramVariable = "VAREK_PROGRAM";

// Beside this binary in a build; in its own folder of the installed libexec folder.
std::string desktopProgram(const std::filesystem::path& self) {
  if (!self.empty()) {
    const std::filesystem::path beside = self.parent_path() / kDesktopProgram;
    if (::access(beside.c_str(), X_OK) == 0) return beside.string();
  }
  return std::string(VAREK_LIBEXEC_DIR) + "/" + kDesktopProgram;
}

// The same arguments, and the same argv[0], so that Qt names the application as before.
int handOver(char** argv) {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) ::setenv(kProgramVariable, self.c_str(), 1);
  const std::string program = desktopProgram(self);
  ::execv(program.c_str(), argv);
  std::fprintf(stderr, "varek: %s ließ sich nicht starten: %s\n", program.c_str(),
               std::strerror(errno));
  return 1;
}

int search(int argc, char** argv, const CommandLine& line) {
  QCoreApplication application(argc, argv);
  // Qt adopts the user's locale for the C library, and printf would then write a decimal
  // comma into the log's figures.
  std::setlocale(LC_NUMERIC, "C");
  // A search runs no row, so the parts that act on the desktop are left out.
  varek::LinuxPlatform desktop(varek::LinuxPlatform::Options{.clipboard = false, .preload = false},
                               varek::LinuxPlatform::Session{});
  auto model = varek::SearchModel::create(desktop.platform());
  if (line.command == CommandLine::Command::bench) {
    const varek::BenchResult searched = varek::bench(*model);
    const std::string result = varek::benchLine(searched);
    desktop.log().write(result);
    std::printf("%s\n", result.c_str());
    // The floor the search is measured against, on the same index.
    const varek::BenchResult plain = varek::plainScan(model->apps());
    std::printf("%s\n", varek::plainScanLine(plain, searched).c_str());
    return 0;
  }
  varek::searchAsThePanelDoes(*model, line);
  std::fputs(varek::formatRows(model->items(), line.json).c_str(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<CommandLine> parsed = varek::parseArguments(argc, argv);
  if (!parsed) return 2;
  const CommandLine& line = *parsed;
  switch (line.command) {
    // Help and version need no display, no bus and no store.
    case CommandLine::Command::help:
      std::fputs(varek::helpText(line.helpTopic).c_str(), stdout);
      return 0;
    case CommandLine::Command::version:
      std::printf("%s\n", varek::versionText().c_str());
      return 0;
    case CommandLine::Command::query:
    case CommandLine::Command::bench:
      return search(argc, argv, line);
    default:
      return handOver(argv);
  }
}
