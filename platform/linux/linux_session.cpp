// The backend with the parts that act on this desktop: here, apart from linux_platform.cpp,
// so that only the programs which act link Qt GUI and D-Bus.
#include <utility>

#include "platform/linux/kwin_scripting.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/qt_pasteboard.h"
#include "platform/linux/qt_screens.h"
#include "platform/linux/system_actions.h"

namespace varek {
namespace {

LinuxPlatform::Session::Placer kwinPlacer() {
  auto kwin = std::make_shared<KWinScripting>();
  return {.available = [kwin] { return kwin->available(); },
          .place = [kwin](const std::string& uuid, Rect frame) { return kwin->place(uuid, frame); }};
}

}  // namespace

LinuxPlatform::LinuxPlatform(Options options)
    : LinuxPlatform(options,
                    Session{.pasteboard = [] { return std::make_unique<QtPasteboard>(); },
                            .systemActions =
                                [](Scheduler& scheduler, Log& log, std::function<void()> beep) {
                                  return std::make_unique<LinuxSystemActions>(scheduler, log,
                                                                              std::move(beep));
                                },
                            .screens = qtScreens(),
                            .placer = kwinPlacer}) {}

}  // namespace varek
