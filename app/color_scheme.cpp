// GIO first: its headers name a member "signals", which Qt defines as a keyword.
#include <gio/gio.h>

#include "app/color_scheme.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <string_view>

namespace varek {
namespace {

constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kPortalInterface = "org.freedesktop.portal.Settings";
constexpr const char* kAppearance = "org.freedesktop.appearance";
constexpr const char* kColorSchemeKey = "color-scheme";
constexpr const char* kGnomeInterfaceSchema = "org.gnome.desktop.interface";

// Read() wraps the value in one more variant than the signal does.
QVariant unwrapped(QVariant value) {
  while (value.userType() == qMetaTypeId<QDBusVariant>()) {
    value = value.value<QDBusVariant>().variant();
  }
  return value;
}

}  // namespace

ColorScheme::ColorScheme(QObject* parent) : QObject(parent) {
  // g_settings_new aborts the process on a schema that is not installed, so it is looked
  // up first; the key is as old as GNOME 42.
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  GSettingsSchema* schema =
      source ? g_settings_schema_source_lookup(source, kGnomeInterfaceSchema, TRUE) : nullptr;
  if (schema != nullptr && g_settings_schema_has_key(schema, kColorSchemeKey)) {
    settings_ = g_settings_new_full(schema, nullptr, nullptr);
    g_signal_connect_swapped(settings_, "changed::color-scheme",
                             G_CALLBACK(+[](ColorScheme* self) { self->readSettings(); }), this);
    readSettings();
  }
  if (schema != nullptr) g_settings_schema_unref(schema);

  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.connect(kPortalService, kPortalPath, kPortalInterface, "SettingChanged", this,
              SLOT(portalSettingChanged(QDBusMessage)));
  QDBusMessage read =
      QDBusMessage::createMethodCall(kPortalService, kPortalPath, kPortalInterface, "Read");
  read << QString(kAppearance) << QString(kColorSchemeKey);
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(read), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this](QDBusPendingCallWatcher* call) {
            const QDBusPendingReply<QVariant> reply = *call;
            // No portal, or one too old to know the key: GNOME's settings stay in charge.
            if (!reply.isError()) portalValue(reply.value());
            call->deleteLater();
          });
}

ColorScheme::~ColorScheme() {
  if (settings_ != nullptr) {
    g_signal_handlers_disconnect_by_data(settings_, this);
    g_object_unref(settings_);
  }
}

void ColorScheme::portalSettingChanged(const QDBusMessage& message) {
  // Taken apart here rather than by QtDBus, which cannot match a slot taking a variant
  // before its own types are set up.
  const QList<QVariant> arguments = message.arguments();
  if (arguments.size() == 3 && arguments[0].toString() == kAppearance &&
      arguments[1].toString() == kColorSchemeKey) {
    portalValue(arguments[2]);
  }
}

void ColorScheme::portalValue(const QVariant& value) {
  bool number = false;
  const uint scheme = unwrapped(value).toUInt(&number);
  if (!number) return;
  portalAnswered_ = true;
  set(scheme == 1 ? Preference::dark : scheme == 2 ? Preference::light : Preference::none);
}

void ColorScheme::readSettings() {
  if (portalAnswered_) return;
  gchar* scheme = g_settings_get_string(settings_, kColorSchemeKey);
  const std::string_view value = scheme != nullptr ? scheme : "";
  // "default" asks for nothing; the palette of the desktop's theme decides then.
  set(value == "prefer-dark"    ? Preference::dark
      : value == "prefer-light" ? Preference::light
                                : Preference::none);
  g_free(scheme);
}

void ColorScheme::set(Preference preference) {
  if (preference == preference_) return;
  preference_ = preference;
  emit changed();
}

}  // namespace varek
