#include "platform/linux/kwin_scripting.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QTemporaryFile>
#include <algorithm>
#include <cctype>
#include <cmath>

namespace varek {
namespace {

const QString kService = QStringLiteral("org.kde.KWin");
const QString kScripting = QStringLiteral("/Scripting");
const QString kScriptingInterface = QStringLiteral("org.kde.kwin.Scripting");
// One name for every script of ours: the next one replaces the last.
const QString kPluginName = QStringLiteral("zz.orvel.varek.place");
// KWin answers within milliseconds; one that does not is not waited on for long.
constexpr int kReplyMs = 2000;

QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                  const QVariantList& arguments = {}) {
  QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
  message.setArguments(arguments);
  return QDBusConnection::sessionBus().call(message, QDBus::Block, kReplyMs);
}

bool succeeded(const QDBusMessage& reply) { return reply.type() == QDBusMessage::ReplyMessage; }

std::string number(double value) { return std::to_string(std::lround(value)); }

}  // namespace

KWinScripting::KWinScripting()
    : watcher_(std::make_unique<QDBusServiceWatcher>(kService, QDBusConnection::sessionBus(),
                                                     QDBusServiceWatcher::WatchForOwnerChange)) {
  QObject::connect(watcher_.get(), &QDBusServiceWatcher::serviceOwnerChanged,
                   [this](const QString&, const QString&, const QString& owner) {
                     present_ = !owner.isEmpty();
                   });
  // Asked once after watching, so that no change in between is missed.
  const QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
  present_ = bus && bus->isServiceRegistered(kService).value();
}

KWinScripting::~KWinScripting() {
  if (loaded_) call(kScripting, kScriptingInterface, "unloadScript", {kPluginName});
}

std::string KWinScripting::script(const std::string& uuid, Rect frame) {
  const bool plain = std::all_of(uuid.begin(), uuid.end(), [](char each) {
    return std::isxdigit(static_cast<unsigned char>(each)) || each == '-';
  });
  // KWin gives a window's internalId as a QUuid, whose text form varies between versions;
  // the digits inside it do not.
  return "(function () {\n"
         "  const wanted = \"" + (plain ? uuid : std::string()) + "\";\n"
         "  let target = workspace.activeClient;\n"
         "  for (const client of wanted ? workspace.clientList() : []) {\n"
         "    if (String(client.internalId).includes(wanted)) {\n"
         "      target = client;\n"
         "      break;\n"
         "    }\n"
         "  }\n"
         "  if (!target) return;\n"
         "  if (typeof target.setMaximize === \"function\") target.setMaximize(false, false);\n"
         "  target.frameGeometry = {x: " + number(frame.x) + ", y: " + number(frame.y) +
         ", width: " + number(std::max(1.0, frame.width)) +
         ", height: " + number(std::max(1.0, frame.height)) + "};\n"
         "})();\n";
}

bool KWinScripting::place(const std::string& uuid, Rect frame) {
  auto file = std::make_unique<QTemporaryFile>(QDir::tempPath() + "/varek-kwin-XXXXXX.js");
  const std::string text = script(uuid, frame);
  // QTemporaryFile makes the file readable by its owner only.
  if (!file->open() || file->write(text.data(), static_cast<qint64>(text.size())) !=
                           static_cast<qint64>(text.size()) ||
      !file->flush()) {
    return false;
  }
  if (loaded_) call(kScripting, kScriptingInterface, "unloadScript", {kPluginName});
  const QDBusReply<int> id =
      call(kScripting, kScriptingInterface, "loadScript", {file->fileName(), kPluginName});
  loaded_ = id.isValid() && id.value() >= 0;
  if (!loaded_) return false;
  file_ = std::move(file);
  // KWin 5 publishes the script at /<id>, KWin 6 at /Scripting/Script<id>; start() runs
  // every loaded script that is not running yet, where neither answers.
  const QString script = QString::number(id.value());
  for (const QString& path : {"/" + script, "/Scripting/Script" + script}) {
    if (succeeded(call(path, QStringLiteral("org.kde.kwin.Script"), "run"))) return true;
  }
  return succeeded(call(kScripting, kScriptingInterface, "start"));
}

}  // namespace varek
