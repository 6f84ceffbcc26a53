// "Beim Anmelden öffnen": the launcher starts with the desktop session through an XDG
// autostart entry, $XDG_CONFIG_HOME/autostart/varek.desktop, that runs this very binary:
// by name when it is the installed one, so an update in place keeps the entry working.
#pragma once

#include <string>

namespace varek {

class LoginItem {
 public:
  // The entry of the current user, starting the running binary.
  LoginItem();
  // What the entry runs: "varek" when the binary found as "varek" on PATH (installed) is
  // the running one, else the running binary's absolute path (a build tree, a copy).
  static std::string command(const std::string& running, const std::string& installed);
  LoginItem(std::string file, std::string executable);

  // The entry exists and the desktop would start it (not switched off by Hidden=true or
  // X-GNOME-Autostart-enabled=false, as desktops do when the user turns it off there).
  bool enabled() const;
  // Writes or removes the entry; false when the file system refused.
  bool setEnabled(bool enabled);

  const std::string& file() const { return file_; }
  // The entry's text, with the binary quoted as the Exec key requires.
  static std::string entry(const std::string& executable);

 private:
  std::string file_;
  std::string executable_;
};

}  // namespace varek
