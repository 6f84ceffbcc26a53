// Owns the clipboard the way a password manager does: the text plus the concealed marker
// "x-kde-passwordManagerHint" = "secret". Prints "ready" once it owns it and serves it
// until it is killed.
//
//   clipboard_owner TEXT
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <cstdio>

int main(int argc, char** argv) {
  QGuiApplication application(argc, argv);
  if (argc < 2) return 2;
  auto* content = new QMimeData;
  content->setText(QString::fromUtf8(argv[1]));
  content->setData(QStringLiteral("x-kde-passwordManagerHint"), QByteArrayLiteral("secret"));
  QGuiApplication::clipboard()->setMimeData(content, QClipboard::Clipboard);
  std::puts("ready");
  std::fflush(stdout);
  return application.exec();
}
