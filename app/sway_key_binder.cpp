#include "app/sway_key_binder.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <utility>

#include "app/key_symbol.h"
#include "app/sway_config.h"

namespace varek {
namespace {

// sway takes a quoted command as one argument of bindsym; a quote of the other kind inside
// stays as it is ("[app_id=\"x\"] scratchpad show" in single quotes). Nothing when the text
// holds both kinds or a line break, which no quoting carries.
std::optional<std::string> asOneArgument(const std::string& command) {
  if (command.find('\n') != std::string::npos) return std::nullopt;
  if (command.find('\'') == std::string::npos) return "'" + command + "'";
  if (command.find('"') == std::string::npos) return "\"" + command + "\"";
  return std::nullopt;
}

// A member's text, empty when it is missing or not text.
std::string textOf(const nlohmann::json& object, const char* name) {
  const auto member = object.find(name);
  return member != object.end() && member->is_string() ? member->get<std::string>() : std::string();
}

}  // namespace

SwayKeyBinder::SwayKeyBinder(std::string command, const std::optional<std::string>& socket)
    : command_(std::move(command)), commands_(socket), events_(commands_.socket()) {
  // A reload of the configuration drops every binding added at run time; the workspace
  // event that announces it is the cue to add ours again.
  if (events_.connected() && events_.subscribe({"binding", "workspace"})) {
    notifier_ = std::make_unique<QSocketNotifier>(events_.fd(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readEvents(); });
  }
}

SwayKeyBinder::~SwayKeyBinder() { unbind(); }

std::string SwayKeyBinder::swayText(QKeyCombination combination) {
  const std::string key = keysymName(combination.key());
  if (key.empty()) return {};
  const Qt::KeyboardModifiers held = combination.keyboardModifiers();
  std::string text;
  if (held & Qt::MetaModifier) text += "Mod4+";
  if (held & Qt::ControlModifier) text += "Control+";
  if (held & Qt::AltModifier) text += "Mod1+";
  if (held & Qt::ShiftModifier) text += "Shift+";
  return text + key;
}

KeyBinder::Status SwayKeyBinder::bind(QKeyCombination combination) {
  unbind();
  if (!commands_.connected() || !notifier_) return Status::noService;
  const std::string text = swayText(combination);
  const Status status = add(text);
  if (status == Status::registered) bound_ = text;
  return status;
}

KeyBinder::Status SwayKeyBinder::add(const std::string& text) {
  const std::optional<SwayCombination> wanted = parseSwayCombination(text);
  if (!wanted) return Status::missingKey;
  const std::optional<std::string> command = asOneArgument(command_);
  if (!command) return Status::unsupported;

  const std::optional<bool> taken = configBinds(*wanted);
  if (!taken) return Status::noService;
  if (*taken) return Status::taken;

  // Held down, the keys would repeat the binding and flicker the panel open and shut.
  if (!commands_.command("bindsym --no-repeat " + text + " " + *command)) return Status::taken;
  return Status::registered;
}

void SwayKeyBinder::unbind() {
  if (bound_.empty()) return;
  // A reload drops run-time bindings; if the configuration binds the keys since, the
  // binding there is the user's, and stays.
  const std::optional<SwayCombination> combination = parseSwayCombination(bound_);
  if (combination && configBinds(*combination) == false) commands_.command("unbindsym " + bound_);
  bound_.clear();
}

std::optional<bool> SwayKeyBinder::configBinds(const SwayCombination& combination) {
  // Only the configuration's bindings can be seen: one that another client added at run
  // time is not in get_config, and sway replaces it without a word.
  const std::optional<std::string> reply = commands_.request(SwayIpc::Message::getConfig);
  if (!reply) return std::nullopt;
  const nlohmann::json config = nlohmann::json::parse(*reply, nullptr, false);
  if (!config.is_object()) return std::nullopt;
  const std::vector<SwayCombination> bound =
      swayConfigBindings(textOf(config, "config"), readSwayIncludes);
  return std::find(bound.begin(), bound.end(), combination) != bound.end();
}

void SwayKeyBinder::readEvents() {
  for (const SwayIpc::Received& event : events_.events()) {
    if (bound_.empty()) continue;
    const nlohmann::json payload = nlohmann::json::parse(event.payload, nullptr, false);
    if (!payload.is_object()) continue;
    if (event.type == static_cast<std::uint32_t>(SwayIpc::Event::workspace)) {
      // The reloaded configuration may bind the keys itself; then they are the user's.
      if (textOf(payload, "change") == "reload" && add(bound_) != Status::registered) {
        bound_.clear();
      }
      continue;
    }
    if (event.type != static_cast<std::uint32_t>(SwayIpc::Event::binding) ||
        textOf(payload, "change") != "run") {
      continue;
    }
    const auto binding = payload.find("binding");
    if (binding != payload.end() && binding->is_object() &&
        textOf(*binding, "command") == command_) {
      pressed();
    }
  }
  // sway has gone: the descriptor is closed, and a notifier on it would fire for ever.
  if (!events_.connected()) notifier_.reset();
}

}  // namespace varek
