#include "ui/sway_scratchpad.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>

namespace varek {
namespace {

// The window as sway lists it in its tree, or null.
const nlohmann::json* findWindow(const nlohmann::json& node, std::string_view appId) {
  if (node.is_object() && node.value("app_id", nlohmann::json()) == appId) return &node;
  for (const char* children : {"nodes", "floating_nodes"}) {
    const auto found = node.find(children);
    if (found == node.end() || !found->is_array()) continue;
    for (const nlohmann::json& child : *found) {
      if (const nlohmann::json* window = findWindow(child, appId)) return window;
    }
  }
  return nullptr;
}

}  // namespace

SwayScratchpad::SwayScratchpad(std::string appId) : appId_(std::move(appId)) {}

std::string SwayScratchpad::criteria(std::string_view appId) {
  return "[app_id=\"" + std::string(appId) + "\"]";
}

std::string SwayScratchpad::rule(std::string_view appId) {
  // Mapped at start straight into the scratchpad, without taking the focus on the way.
  return "for_window " + criteria(appId) +
         " \"floating enable, sticky enable, border none, move position center, "
         "move scratchpad\"; no_focus " + criteria(appId);
}

std::string SwayScratchpad::marker(std::string_view runtimeFolder, std::string_view socket) {
  return (std::filesystem::path(runtimeFolder) /
          ("varek-sway-rule." + std::filesystem::path(socket).filename().string()))
      .string();
}

bool SwayScratchpad::addRuleOnce() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  // Without a runtime folder nothing marks the rule, and a second one does no harm.
  const std::string file =
      runtime != nullptr && *runtime == '/' ? marker(runtime, ipc_.socket()) : std::string();
  if (!file.empty()) {
    const int claimed = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (claimed < 0) return errno == EEXIST;
    ::close(claimed);
  }
  if (ipc_.command(rule(appId_))) return true;
  // A later launcher tries again.
  if (!file.empty()) ::unlink(file.c_str());
  return false;
}

bool SwayScratchpad::show() { return ipc_.command(criteria(appId_) + " focus"); }

bool SwayScratchpad::hide() { return ipc_.command(criteria(appId_) + " move scratchpad"); }

std::optional<SwayScratchpad::Window> SwayScratchpad::window() {
  const std::optional<std::string> tree = ipc_.request(SwayIpc::Message::getTree);
  if (!tree) return std::nullopt;
  const nlohmann::json root = nlohmann::json::parse(*tree, nullptr, false);
  const nlohmann::json* window = findWindow(root, appId_);
  if (window == nullptr) return std::nullopt;
  const auto flag = [window](const char* name) {
    const auto found = window->find(name);
    return found != window->end() && found->is_boolean() && found->get<bool>();
  };
  return Window{.visible = flag("visible"), .focused = flag("focused")};
}

}  // namespace varek
