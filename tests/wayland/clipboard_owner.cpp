// A Wayland client that copies a text the way ordinary programs do: from its own focused
// window. A headless mutter's seat has no keyboard, and without one no copy is taken, so it
// first makes mutter's remote desktop service add one, for as long as this program runs.
//   clipboard_owner TEXT   prints "kopiert" once it has copied; runs until it is ended.
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QGuiApplication>
#include <QRasterWindow>
#include <QTimer>
#include <cstdio>

namespace {

constexpr const char* kService = "org.gnome.Mutter.RemoteDesktop";

QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                  const QVariantList& arguments = {}) {
  QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
  message.setArguments(arguments);
  return QDBusConnection::sessionBus().call(message);
}

// The session's keyboard joins the seat with its first key.
bool addKeyboard() {
  const QDBusMessage created = call("/org/gnome/Mutter/RemoteDesktop", kService, "CreateSession");
  if (created.type() != QDBusMessage::ReplyMessage) return false;
  const QString session = created.arguments().value(0).value<QDBusObjectPath>().path();
  const QString interface = QString(kService) + ".Session";
  bool done = call(session, interface, "Start").type() == QDBusMessage::ReplyMessage;
  for (const bool pressed : {true, false}) {  // Shift_L
    done = done && call(session, interface, "NotifyKeyboardKeysym", {0xffe1u, pressed}).type() ==
                       QDBusMessage::ReplyMessage;
  }
  return done;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication application(argc, argv);
  if (argc != 2 || !addKeyboard()) return 1;
  QRasterWindow window;
  window.resize(200, 100);
  window.show();
  QTimer copier;
  QObject::connect(&copier, &QTimer::timeout, [&] {
    if (!window.isActive()) return;
    QGuiApplication::clipboard()->setText(QString::fromUtf8(argv[1]));
    copier.stop();
    std::printf("kopiert\n");
    std::fflush(stdout);
  });
  copier.start(50);
  return application.exec();
}
