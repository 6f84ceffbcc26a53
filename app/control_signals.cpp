#include "app/control_signals.h"

#include <QDBusConnection>
#include <charconv>

#include "search/bench.h"
#include "search/unicode.h"
#include "ui/panel_controller.h"

namespace varek {
namespace {

// The title of the first row when there is none: an en dash.
constexpr std::string_view kNoTopRow = "–";
constexpr int kMillisecondDecimals = 2;

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
    : QObject(parent), controller_(controller), log_(log) {}

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
  handle(message.member().toStdString(), payload);
}

void ControlSignals::handle(std::string_view member, const std::optional<std::string>& payload) {
  SearchModel& model = controller_.model();
  if (member == "toggle") {
    if (controller_.isVisible()) {
      controller_.hide();
    } else {
      controller_.show();
    }
  } else if (member == "show") {
    controller_.show();
  } else if (member == "hide") {
    controller_.hide();
  } else if (member == "query") {
    if (!controller_.isVisible()) controller_.show();
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
