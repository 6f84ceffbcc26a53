// Whether the desktop asks for light or dark colours, so that the tray icon stands out on
// its panel. Asked of the Settings portal (every desktop that runs xdg-desktop-portal),
// else of GNOME's interface settings; either is followed while the launcher runs.
#pragma once

#include <QDBusMessage>
#include <QObject>

using GSettings = struct _GSettings;

namespace varek {

class ColorScheme : public QObject {
  Q_OBJECT

 public:
  enum class Preference { none, dark, light };

  // Reads GNOME's settings at once and asks the portal without waiting; its answer, when
  // it comes, takes precedence.
  explicit ColorScheme(QObject* parent = nullptr);
  ~ColorScheme() override;

  Preference preference() const { return preference_; }

 signals:
  void changed();

 private slots:
  void portalSettingChanged(const QDBusMessage& message);

 private:
  void portalValue(const QVariant& value);
  void readSettings();
  void set(Preference preference);

  Preference preference_ = Preference::none;
  bool portalAnswered_ = false;
  GSettings* settings_ = nullptr;
};

}  // namespace varek
