#include "platform/linux/qt_screens.h"

#include <QGuiApplication>
#include <QScreen>
#include <QThread>

namespace varek {
namespace {

bool wayland() { return QGuiApplication::platformName().startsWith(QLatin1String("wayland")); }

using Area = X11WindowServer::Area;

// Qt's screens, when this thread may ask them and they describe an X display or a Wayland
// compositor's layout.
bool qtKnowsScreens() {
  auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  return application && QThread::currentThread() == application->thread() &&
         (QGuiApplication::platformName() == QLatin1String("xcb") || wayland());
}

// Qt reports scaled screens in device-independent pixels around the screen's own origin;
// windows are measured in the X server's pixels.
// A Wayland compositor lays its outputs out in logical pixels, as Qt reports them.
Area nativeArea(const QScreen& screen, const QRect& logical) {
  const double ratio = wayland() ? 1.0 : screen.devicePixelRatio();
  const QPoint origin = screen.geometry().topLeft();
  return {origin.x() + (logical.x() - origin.x()) * ratio,
          origin.y() + (logical.y() - origin.y()) * ratio, logical.width() * ratio,
          logical.height() * ratio};
}

}  // namespace

X11WindowServer::ScreenSource qtScreens() {
  return [] {
    std::vector<X11WindowServer::ScreenArea> areas;
    if (!qtKnowsScreens()) return areas;
    // Qt lists its primary screen first.
    for (const QScreen* screen : QGuiApplication::screens()) {
      areas.push_back({nativeArea(*screen, screen->geometry()),
                       nativeArea(*screen, screen->availableGeometry())});
    }
    return areas;
  };
}

}  // namespace varek
