#include "app/wayland_frames.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <optional>
#include <string_view>

#ifdef VAREK_WAYLAND
#include "platform/wayland/wayland_connection.h"
#endif

namespace varek {
namespace {

constexpr const char* kNoClientFrames = "QT_WAYLAND_DISABLE_WINDOWDECORATION";
constexpr std::string_view kDecorationGlobal = "zxdg_decoration_manager_v1";
// A compositor sends its registry within milliseconds; a silent one keeps Qt's default.
constexpr std::chrono::milliseconds kRegistryWait{1000};

// A window's Show event comes before Qt's platform window is set up, and the setting is
// read there, in the same call: it is withdrawn once the event loop runs again.
class WithdrawAfterFirstWindow : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && watched->isWindowType()) {
      QCoreApplication::instance()->removeEventFilter(this);
      QTimer::singleShot(0, this, [this] {
        qunsetenv(kNoClientFrames);
        deleteLater();
      });
    }
    return false;
  }
};

bool compositorDrawsFrames() {
#ifdef VAREK_WAYLAND
  const WaylandConnection probe(std::nullopt, kRegistryWait);
  const auto& globals = probe.globals();
  return std::any_of(globals.begin(), globals.end(), [](const WaylandConnection::Global& global) {
    return global.interface == kDecorationGlobal;
  });
#else
  return false;
#endif
}

}  // namespace

void skipClientFramesWhereCompositorDrawsThem() {
  // The user's own choice stays as it is.
  if (qEnvironmentVariableIsSet(kNoClientFrames) || !compositorDrawsFrames()) return;
  qputenv(kNoClientFrames, "1");
  QCoreApplication* application = QCoreApplication::instance();
  application->installEventFilter(new WithdrawAfterFirstWindow(application));
}

}  // namespace varek
