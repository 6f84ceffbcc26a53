// A Wayland client that copies a text the way an ordinary program does: with its own window
// focused. On GNOME that needs a keyboard on the seat, which a headless mutter lacks, so it
// first asks mutter's remote desktop service for one, held for as long as this runs.
//   clipboard_owner TEXT   prints "kopiert" once the text is on the clipboard, and ends when
//   its standard input closes.
#include <unistd.h>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QGuiApplication>
#include <QRasterWindow>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>

namespace {

constexpr const char* kService = "org.gnome.Mutter.RemoteDesktop";

// Starts a remote desktop session; its virtual keyboard lives as long as this connection.
bool addKeyboard() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  const QDBusMessage created = bus.call(QDBusMessage::createMethodCall(
      kService, "/org/gnome/Mutter/RemoteDesktop", kService, "CreateSession"));
  if (created.type() != QDBusMessage::ReplyMessage || created.arguments().isEmpty()) return false;
  const QString session = created.arguments().first().value<QDBusObjectPath>().path();
  const QDBusMessage started = bus.call(
      QDBusMessage::createMethodCall(kService, session, QString(kService) + ".Session", "Start"));
  if (started.type() != QDBusMessage::ReplyMessage) return false;
  for (const bool pressed : {true, false}) {
    QDBusMessage key = QDBusMessage::createMethodCall(
        kService, session, QString(kService) + ".Session", "NotifyKeyboardKeysym");
    key << 0xffe1u << pressed;  // Shift_L
    const QDBusMessage reply = bus.call(key);
    if (reply.type() != QDBusMessage::ReplyMessage) {
      std::fprintf(stderr, "clipboard_owner: %s\n", qPrintable(reply.errorMessage()));
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication application(argc, argv);
  if (argc != 2) return 2;
  if (!addKeyboard()) {
    std::fprintf(stderr, "clipboard_owner: no keyboard from mutter\n");
    return 1;
  }
  const QString text = QString::fromUtf8(argv[1]);
  QRasterWindow window;
  window.setTitle("clipboard owner");
  window.resize(200, 100);
  window.show();
  // Copied once the window has the focus, and again while the compositor has not taken it.
  QTimer copier;
  QObject::connect(&copier, &QTimer::timeout, [&] {
    if (!window.isActive()) return;
    QGuiApplication::clipboard()->setText(text);
    if (QGuiApplication::clipboard()->ownsClipboard()) {
      copier.stop();
      std::printf("kopiert\n");
      std::fflush(stdout);
    }
  });
  copier.start(50);
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    char buffer[64];
    if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0) application.quit();
  });
  return application.exec();
}
