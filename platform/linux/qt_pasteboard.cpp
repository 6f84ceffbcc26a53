#include "platform/linux/qt_pasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>
#include <algorithm>

#include "platform/x11/x11_clipboard.h"

namespace varek {
namespace {

constexpr QClipboard::Mode kMode = QClipboard::Clipboard;

// The command line runs under a QCoreApplication, which has no platform integration for
// QGuiApplication::clipboard() to reach: asking it there would crash.
QClipboard* systemClipboard() {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return nullptr;
  return QGuiApplication::clipboard();
}

const QMimeData* currentContent() {
  const QClipboard* clipboard = systemClipboard();
  return clipboard == nullptr ? nullptr : clipboard->mimeData(kMode);
}

bool offersPlainText(const QMimeData& content) {
  const QStringList formats = content.formats();
  return std::any_of(formats.begin(), formats.end(), [](const QString& format) {
    return format.startsWith(QLatin1String("text/plain"));
  });
}

}  // namespace

QtPasteboard::QtPasteboard() {
  QClipboard* clipboard = systemClipboard();
  if (clipboard == nullptr) return;
  focusOnly_ = QGuiApplication::platformName() == QLatin1String("wayland");
  // On Wayland Qt hears of a copy when its window gains the keyboard focus, and signals it
  // then, also for a copy made while it had none. Its own copy comes back the same way each
  // time: it was counted when it was made, and is not new.
  QObject::connect(clipboard, &QClipboard::dataChanged, &connections_, [this, clipboard] {
    if (focusOnly_ && ownCopyCounted_ && clipboard->ownsClipboard()) return;
    ownCopyCounted_ = false;
    ++changeCount_;
  });
  if (const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
    auto reader = std::make_unique<X11Clipboard>(x11->connection());
    if (reader->connected()) x11_ = std::move(reader);
  }
}

QtPasteboard::~QtPasteboard() = default;

std::vector<std::string> QtPasteboard::types() const {
  std::vector<std::string> types;
  const QMimeData* content = currentContent();
  if (content == nullptr) return types;
  for (const QString& format : content->formats()) {
    // Qt lists the X11 plumbing (TARGETS, TIMESTAMP, …) beside the real formats.
    if (!X11Clipboard::isSelectionTarget(format.toStdString()))
      types.push_back(format.toStdString());
  }
  return types;
}

std::vector<std::string> QtPasteboard::filePaths() const {
  std::vector<std::string> paths;
  const QMimeData* content = currentContent();
  if (content == nullptr || !content->hasUrls()) return paths;
  for (const QUrl& url : content->urls()) {
    if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
  }
  return paths;
}

std::optional<std::string> QtPasteboard::text() const {
  const QMimeData* content = currentContent();
  // Qt turns a bare uri-list into text as well; that content is files, not text.
  if (content == nullptr || !offersPlainText(*content)) return std::nullopt;
  return content->text().toStdString();
}

std::optional<Pasteboard::Snapshot> QtPasteboard::snapshot(const Withholds& withholds) const {
  // This process's own copy is served from memory, with no request that could cross a
  // change; so is every copy where Qt's clipboard is not X11's.
  const auto readHere = [&] { return Pasteboard::snapshot(withholds); };
  return x11_ ? x11_->snapshot(withholds, readHere) : readHere();
}

void QtPasteboard::setText(const std::string& text) {
  QClipboard* clipboard = systemClipboard();
  if (clipboard == nullptr) return;
  const std::int64_t before = changeCount_;
  clipboard->setText(QString::fromStdString(text), kMode);
  // Taking the selection over is signalled synchronously today, but the history must see
  // its own copy even where a platform reports it later.
  if (changeCount_ == before) ++changeCount_;
  ownCopyCounted_ = true;
}

}  // namespace varek
