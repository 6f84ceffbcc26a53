// `clipboard_owner [COUNT]` owns the clipboard the way a password manager does: the text
// plus the concealed marker "x-kde-passwordManagerHint" = "secret". It copies COUNT times
// (once without), every even copy ("geheim N") marked and the odd ones ("offen N") not,
// answering requests in between; then prints "ready" and serves the last until killed.
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTimer>
#include <cstdio>

// Back to back, each copy makes Qt's owner refuse the requests still open for the one
// before; a millisecond apart, most reads get through and some straddle two copies.
constexpr int kPauseMs = 1;

int main(int argc, char** argv) {
  QGuiApplication application(argc, argv);
  const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 1;
  int copied = 0;
  QTimer next;
  QObject::connect(&next, &QTimer::timeout, [&] {
    const bool concealed = copied % 2 == 0;
    auto* content = new QMimeData;
    content->setText(QStringLiteral("%1 %2").arg(concealed ? "geheim" : "offen").arg(copied));
    if (concealed)
      content->setData(QStringLiteral("x-kde-passwordManagerHint"), QByteArrayLiteral("secret"));
    QGuiApplication::clipboard()->setMimeData(content, QClipboard::Clipboard);
    if (++copied < count) return;
    next.stop();
    std::puts("ready");
    std::fflush(stdout);
  });
  next.start(kPauseMs);
  return application.exec();
}
