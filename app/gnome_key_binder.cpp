// GIO first: its headers name a member "signals", which Qt defines as a keyword.
#include <gio/gio.h>

#include "app/gnome_key_binder.h"

#include <strings.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/key_symbol.h"

namespace varek {
namespace {

constexpr const char* kMediaKeys = "org.gnome.settings-daemon.plugins.media-keys";
constexpr const char* kCustomList = "custom-keybindings";
constexpr const char* kCustom = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
constexpr const char* kOurPath =
    "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/varek/";
// GNOME's own shortcuts, by schema; those not installed are passed over.
constexpr const char* kShortcutSchemas[] = {
    "org.gnome.desktop.wm.keybindings", "org.gnome.shell.keybindings",
    "org.gnome.mutter.keybindings", "org.gnome.mutter.wayland.keybindings", kMediaKeys};

// The modifiers of GNOME's accelerators, compared without case; <Primary> is Control here.
constexpr unsigned kShift = 1, kControl = 2, kAlt = 4, kSuper = 8, kMeta = 16, kHyper = 32;
constexpr std::pair<std::string_view, unsigned> kModifierNames[] = {
    {"shift", kShift}, {"shft", kShift},      {"control", kControl}, {"ctrl", kControl},
    {"ctl", kControl}, {"primary", kControl}, {"alt", kAlt},         {"mod1", kAlt},
    {"super", kSuper}, {"mod4", kSuper},      {"meta", kMeta},       {"hyper", kHyper},
};

struct Accelerator {
  unsigned modifiers = 0;
  xkb_keysym_t key = XKB_KEY_NoSymbol;
  bool operator==(const Accelerator&) const = default;
};

// "<Alt>space" read; nothing for text that names no key.
std::optional<Accelerator> parse(std::string_view text) {
  Accelerator accelerator;
  while (text.starts_with('<')) {
    const auto end = text.find('>');
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view name = text.substr(1, end - 1);
    for (const auto& [known, bit] : kModifierNames) {
      if (known.size() == name.size() && strncasecmp(known.data(), name.data(), name.size()) == 0) {
        accelerator.modifiers |= bit;
      }
    }
    text.remove_prefix(end + 1);
  }
  accelerator.key = xkb_keysym_from_name(std::string(text).c_str(), XKB_KEYSYM_CASE_INSENSITIVE);
  if (accelerator.key == XKB_KEY_NoSymbol) return std::nullopt;
  return accelerator;
}

struct Unref {
  void operator()(GSettings* settings) const { g_object_unref(settings); }
  void operator()(GSettingsSchema* schema) const { g_settings_schema_unref(schema); }
  void operator()(GVariant* value) const { g_variant_unref(value); }
  void operator()(gchar** strings) const { g_strfreev(strings); }
};
using Settings = std::unique_ptr<GSettings, Unref>;

// g_settings_new aborts the process on a schema that is not installed, so each is looked
// up first.
Settings open(const char* id, const char* path = nullptr) {
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  std::unique_ptr<GSettingsSchema, Unref> schema(
      source != nullptr ? g_settings_schema_source_lookup(source, id, TRUE) : nullptr);
  if (!schema) return nullptr;
  return Settings(g_settings_new_full(schema.get(), nullptr, path));
}

std::vector<std::string> strings(GSettings* settings, const char* key) {
  std::unique_ptr<gchar*, Unref> values(g_settings_get_strv(settings, key));
  std::vector<std::string> result;
  for (gchar** value = values.get(); *value != nullptr; ++value) result.emplace_back(*value);
  return result;
}

// Every accelerator that the schema's keys hold, whether a key holds one or a list.
std::vector<std::string> accelerators(GSettings* settings) {
  std::vector<std::string> result;
  GSettingsSchema* schema = nullptr;
  g_object_get(settings, "settings-schema", &schema, nullptr);
  std::unique_ptr<GSettingsSchema, Unref> owned(schema);
  std::unique_ptr<gchar*, Unref> keys(g_settings_schema_list_keys(schema));
  for (gchar** key = keys.get(); *key != nullptr; ++key) {
    std::unique_ptr<GVariant, Unref> value(g_settings_get_value(settings, *key));
    if (g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING)) {
      result.emplace_back(g_variant_get_string(value.get(), nullptr));
    } else if (g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING_ARRAY)) {
      for (const std::string& text : strings(settings, *key)) result.push_back(text);
    }
  }
  return result;
}

// Whether one of GNOME's shortcuts, or another custom one, holds the combination.
bool taken(const Accelerator& wanted) {
  std::vector<std::string> held;
  for (const char* id : kShortcutSchemas) {
    if (Settings settings = open(id)) {
      for (std::string& text : accelerators(settings.get())) held.push_back(std::move(text));
    }
  }
  if (Settings list = open(kMediaKeys)) {
    for (const std::string& path : strings(list.get(), kCustomList)) {
      if (path == kOurPath) continue;
      if (Settings custom = open(kCustom, path.c_str())) {
        std::unique_ptr<gchar, decltype(&g_free)> binding(
            g_settings_get_string(custom.get(), "binding"), g_free);
        held.emplace_back(binding.get());
      }
    }
  }
  for (const std::string& text : held) {
    if (parse(text) == wanted) return true;
  }
  return false;
}

bool written() {
  Settings list = open(kMediaKeys);
  if (!list) return false;
  const std::vector<std::string> paths = strings(list.get(), kCustomList);
  return std::find(paths.begin(), paths.end(), kOurPath) != paths.end();
}

void setList(GSettings* list, const std::vector<std::string>& paths) {
  std::vector<const gchar*> values;
  for (const std::string& path : paths) values.push_back(path.c_str());
  values.push_back(nullptr);
  g_settings_set_strv(list, kCustomList, values.data());
}

}  // namespace

bool GnomeKeyBinder::offered() {
  // Another desktop with GNOME's schemas installed would keep the shortcut without effect.
  const char* desktops = std::getenv("XDG_CURRENT_DESKTOP");
  bool gnome = false;
  for (std::string_view rest = desktops != nullptr ? desktops : ""; !rest.empty();) {
    const auto end = std::min(rest.find(':'), rest.size());
    const std::string_view name = rest.substr(0, end);
    gnome = gnome || (name.size() == 5 && strncasecmp(name.data(), "GNOME", 5) == 0);
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  return gnome && open(kMediaKeys) != nullptr && open(kCustom, kOurPath) != nullptr;
}

QString GnomeKeyBinder::accelerator(QKeyCombination combination) {
  const Qt::KeyboardModifiers held = combination.keyboardModifiers();
  QString text;
  if (held & Qt::ControlModifier) text += "<Control>";
  if (held & Qt::AltModifier) text += "<Alt>";
  if (held & Qt::ShiftModifier) text += "<Shift>";
  if (held & Qt::MetaModifier) text += "<Super>";
  return text + QString::fromStdString(keysymName(combination.key()));
}

KeyBinder::Status GnomeKeyBinder::bind(QKeyCombination combination) {
  const std::string text = accelerator(combination).toStdString();
  const std::optional<Accelerator> wanted = parse(text);
  if (!wanted) return Status::missingKey;
  Settings custom = open(kCustom, kOurPath);
  if (!custom) return Status::unsupported;
  if (taken(*wanted)) return Status::taken;
  if (!written()) return Status::needsConsent;
  g_settings_set_string(custom.get(), "binding", text.c_str());
  g_settings_sync();
  return Status::registered;
}

KeyBinder::Consent GnomeKeyBinder::consent() const {
  return written() ? Consent::given : Consent::asked;
}

bool GnomeKeyBinder::agree(QKeyCombination combination) {
  const std::string text = accelerator(combination).toStdString();
  const std::optional<Accelerator> wanted = parse(text);
  Settings custom = open(kCustom, kOurPath);
  Settings list = open(kMediaKeys);
  if (!wanted || !custom || !list || taken(*wanted)) return false;
  g_settings_set_string(custom.get(), "name", "Varek");
  g_settings_set_string(custom.get(), "command", kCommand);
  g_settings_set_string(custom.get(), "binding", text.c_str());
  std::vector<std::string> paths = strings(list.get(), kCustomList);
  if (std::find(paths.begin(), paths.end(), kOurPath) == paths.end()) {
    paths.emplace_back(kOurPath);
    setList(list.get(), paths);
  }
  g_settings_sync();
  return true;
}

void GnomeKeyBinder::withdraw() {
  Settings list = open(kMediaKeys);
  if (!list) return;
  std::vector<std::string> paths = strings(list.get(), kCustomList);
  std::erase(paths, kOurPath);
  setList(list.get(), paths);
  if (Settings custom = open(kCustom, kOurPath)) {
    for (const char* key : {"name", "command", "binding"}) g_settings_reset(custom.get(), key);
  }
  g_settings_sync();
}

}  // namespace varek
