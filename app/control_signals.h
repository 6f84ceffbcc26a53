// The launcher driven from outside, without a keyboard: signals on the D-Bus session bus
// with the interface "zz.orvel.varek", whose member names what to do ("toggle", "show",
// "hide", "query", "mode", "down", "enter", "bench", "reload", "copy") and whose optional first
// text argument is the payload. A dictionary argument (a{sv}) after it, or in its place, may
// carry the "activation-token" the desktop gave the sender, which lets the panel take the
// focus on Wayland. Nothing is sent back; replies are lines in the log.
#pragma once

#include <QDBusMessage>
#include <QObject>
#include <QVariantList>
#include <QVariantMap>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/log.h"
#include "search/search_model.h"

namespace varek {

class PanelController;

class ControlSignals : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kInterface = "zz.orvel.varek";
  // A payload is cut to this many characters when it arrives: longer than any query typed
  // by hand, and a bound on what one signal can make the model search and the log hold.
  static constexpr std::size_t kPayloadCharacters = 1000;
  static constexpr const char* kActivationTokenKey = "activation-token";
  // Longer than any token a compositor hands out; a longer one is not taken.
  static constexpr std::size_t kActivationTokenBytes = 256;

  ControlSignals(PanelController& controller, const Log& log, QObject* parent = nullptr);

  // Listens for every member of the interface, from any sender on any path, for the life
  // of this object; false without a session bus.
  bool listen();
  // "reload": the settings changed in the defaults (`varek einstellungen`).
  void setOnReload(std::function<void()> reload) { onReload_ = std::move(reload); }
  // Receives the token of a signal that shows the panel, just before it shows; by default
  // it is set as XDG_ACTIVATION_TOKEN, for the toolkit to hand to the compositor.
  void setOnActivationToken(std::function<void(const std::string&)> take) {
    onActivationToken_ = std::move(take);
  }
  // "copy": the payload goes on the clipboard as the launcher's own copy.
  void setOnCopy(std::function<void(const std::string&)> copy) { onCopy_ = std::move(copy); }
  // Acts on one signal as if it had arrived; unknown members do nothing. What it logs
  // follows the line of an opening that a signal before it began.
  // A token goes to the activation callback when the member shows the panel; it is gone
  // from the environment afterwards.
  void handle(std::string_view member, const std::optional<std::string>& payload,
              const std::optional<std::string>& activationToken = std::nullopt);

  // The argument a sender adds for the token it was started with.
  static QVariantMap activationArgument(const std::string& token);
  // The token in a signal's arguments; nothing without one, and for one that is empty,
  // longer than kActivationTokenBytes or holds anything but visible ASCII characters.
  static std::optional<std::string> activationToken(const QVariantList& arguments);

  // A whole signed decimal number ("2", "+3") naming a mode; anything else is none.
  static std::optional<SearchModel::Mode> parseMode(std::string_view payload);
  // "Suche „12*7+3“: 0.05 ms, 2 Treffer, oben: 87" for the text as received and the model's
  // last search; the top title is "–" for an empty list.
  static std::string queryLine(std::string_view query, const SearchModel& model);

 private slots:
  void receive(const QDBusMessage& message);

 private:
  // A line about a search follows the line of the opening under way, as the search did.
  void writeAfterOpening(std::string line);
  // Shows the panel with the desktop's permission to take the focus, where one came.
  void show(const std::optional<std::string>& activationToken);

  PanelController& controller_;
  const Log& log_;
  std::function<void()> onReload_;
  std::function<void(const std::string&)> onCopy_;
  std::function<void(const std::string&)> onActivationToken_;
};

}  // namespace varek
