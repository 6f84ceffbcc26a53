#include "app/control_signals.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <algorithm>
#include <charconv>

#include "search/bench.h"
#include "search/unicode.h"
#include "ui/panel_controller.h"

namespace varek {
namespace {

// The title of the first row when there is none: an en dash.
constexpr std::string_view kNoTopRow = "–";
constexpr int kMillisecondDecimals = 2;
constexpr const char* kActivationVariable = "XDG_ACTIVATION_TOKEN";

// Fixed-point with a decimal point whatever the process's locale says, so that the log
// reads the same on every desktop.
std::string decimal(double value, int decimals) {
  char text[64];
  const auto [end, error] =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  return error == std::errc() ? std::string(text, end) : std::string();
}

}  // namespace

ControlSignals::ControlSignals(PanelController& controller, const Log& log, QObject* parent)
    : QObject(parent),
      controller_(controller),
      log_(log),
      onActivationToken_([](const std::string& token) {
        qputenv(kActivationVariable, QByteArray::fromStdString(token));
      }) {}

bool ControlSignals::listen() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  return bus.connect(QString(), QString(), kInterface, QString(), this,
                     SLOT(receive(QDBusMessage)));
}

void ControlSignals::receive(const QDBusMessage& message) {
  std::optional<std::string> payload;
  const QList<QVariant> arguments = message.arguments();
  // Only a text is a payload; a number or nothing at all is none.
  if (!arguments.isEmpty() && arguments.first().metaType() == QMetaType::fromType<QString>()) {
    const std::string text = arguments.first().toString().toStdString();
    // A copy is taken whole, as a cut one would put a wrong text on the clipboard; it
    // costs no search and no log line.
    payload = message.member() == "copy"
                  ? text
                  : std::string(unicode::leadingCharacters(text, kPayloadCharacters));
  }
  handle(message.member().toStdString(), payload, activationToken(arguments));
}

QVariantMap ControlSignals::activationArgument(const std::string& token) {
  return {{QString::fromLatin1(kActivationTokenKey), QString::fromStdString(token)}};
}

std::optional<std::string> ControlSignals::activationToken(const QVariantList& arguments) {
  for (const QVariant& argument : arguments) {
    // From the bus a dictionary arrives still marshalled; built here, it is a map already.
    QVariantMap map;
    if (argument.metaType() == QMetaType::fromType<QDBusArgument>()) {
      const auto marshalled = argument.value<QDBusArgument>();
      if (marshalled.currentType() != QDBusArgument::MapType) continue;
      map = qdbus_cast<QVariantMap>(marshalled);
    } else if (argument.metaType() == QMetaType::fromType<QVariantMap>()) {
      map = argument.toMap();
    } else {
      continue;
    }
    const QVariant value = map.value(QString::fromLatin1(kActivationTokenKey));
    if (value.metaType() != QMetaType::fromType<QString>()) return std::nullopt;
    const std::string token = value.toString().toStdString();
    // It goes into the environment and on to the compositor: nothing there may be cut,
    // spaced or control characters.
    const bool visible = std::all_of(token.begin(), token.end(),
                                     [](char byte) { return byte > ' ' && byte < '\x7f'; });
    if (token.empty() || token.size() > kActivationTokenBytes || !visible) return std::nullopt;
    return token;
  }
  return std::nullopt;
}

void ControlSignals::show(const std::optional<std::string>& activationToken) {
  if (activationToken && onActivationToken_) onActivationToken_(*activationToken);
  controller_.show();
  // Qt's Wayland shell takes the token when the panel asks for the focus and removes it;
  // one left over is spent and must not reach the programs the launcher starts.
  qunsetenv(kActivationVariable);
}

void ControlSignals::handle(std::string_view member, const std::optional<std::string>& payload,
                            const std::optional<std::string>& activationToken) {
  SearchModel& model = controller_.model();
  if (member == "toggle") {
    if (controller_.isVisible()) {
      controller_.hide();
    } else {
      show(activationToken);
    }
  } else if (member == "show") {
    show(activationToken);
  } else if (member == "hide") {
    controller_.hide();
  } else if (member == "query") {
    if (!controller_.isVisible()) show(activationToken);
    const std::string query = payload.value_or(std::string());
    model.setQuery(query);
    writeAfterOpening(queryLine(query, model));
  } else if (member == "mode") {
    if (!payload) return;
    if (const auto mode = parseMode(*payload)) model.setMode(*mode);
  } else if (member == "down") {
    model.move(1);
  } else if (member == "enter") {
    model.activate(SearchModel::Action::open);
  } else if (member == "bench") {
    writeAfterOpening(benchLine(bench(model)));
  } else if (member == "reload") {
    if (onReload_) onReload_();
  } else if (member == "copy") {
    if (payload && onCopy_) onCopy_(*payload);
  }
}

void ControlSignals::writeAfterOpening(std::string line) {
  controller_.afterOpening([&log = log_, line = std::move(line)] { log.write(line); });
}

std::optional<SearchModel::Mode> ControlSignals::parseMode(std::string_view payload) {
  // from_chars takes a minus but no plus; the plus must still be followed by a digit.
  if (payload.starts_with('+')) {
    payload.remove_prefix(1);
    if (payload.empty() || payload.front() < '0' || payload.front() > '9') return std::nullopt;
  }
  long long number = 0;
  const char* end = payload.data() + payload.size();
  const auto [stop, error] = std::from_chars(payload.data(), end, number);
  if (error != std::errc() || stop != end) return std::nullopt;
  return modeFromNumber(number);
}

std::string ControlSignals::queryLine(std::string_view query, const SearchModel& model) {
  const std::vector<Item>& items = model.items();
  const std::string_view top = items.empty() ? kNoTopRow : std::string_view(items.front().title);
  return "Suche „" + std::string(query) +
         "“: " + decimal(model.lastSearchMs(), kMillisecondDecimals) + " ms, " +
         std::to_string(items.size()) + " Treffer, oben: " + std::string(top);
}

}  // namespace varek
