// Where the launcher keeps its files on a Linux desktop: the XDG base directories
// (state for the log, data for the clipboard history, config for the defaults), read
// once from the environment at start.
#pragma once

#include <string>

#include "platform/paths.h"

namespace varek {

class XdgPaths : public Paths {
 public:
  XdgPaths();

  std::string logFile() const override { return logFile_; }
  std::string clipboardFile() const override { return clipboardFile_; }
  std::string homeFolder() const override { return homeFolder_; }
  // The user-defaults file that JsonDefaults keeps.
  std::string configFile() const { return configFile_; }

 private:
  std::string homeFolder_;
  std::string logFile_;
  std::string clipboardFile_;
  std::string configFile_;
};

}  // namespace varek
