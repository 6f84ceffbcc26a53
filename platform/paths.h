// Where the launcher keeps its files.
#pragma once

#include <string>

namespace varek {

class Paths {
 public:
  virtual ~Paths() = default;

  // The diagnostic log; its folder exists once the application has started.
  virtual std::string logFile() const = 0;
  // The clipboard history; the core creates its folder.
  virtual std::string clipboardFile() const = 0;
  // The user's home folder, which file rows abbreviate to "~".
  virtual std::string homeFolder() const = 0;
};

}  // namespace varek
