// The fixed table of system commands and web shortcuts, and the starting of programs.
#pragma once

#include <string>
#include <vector>

#include "platform/system_actions.h"
#include "search/item.h"

namespace varek::Commands {

struct Command {
  std::string title;     // German; also the row id "cmd:" + title
  std::string keywords;  // further search words, German and English
  std::string symbol;
  SystemColor color;
  bool confirm = false;    // runs only on a second Return
  bool keepsOpen = false;  // the panel stays open after running
  SystemAction action;
};

// The fourteen commands, in menu order.
const std::vector<Command>& all();

struct Engine {
  std::string key;      // typed before the search text: "g", "yt", …
  std::string label;    // shown as "Bei " + label + " suchen"
  std::string address;  // "%@" stands for the percent-encoded search text
};

// The eight web shortcuts; the first is also the general web search.
const std::vector<Engine>& engines();

// Starts the program with these arguments (no shell), output discarded; does not wait.
void shell(const std::string& path, const std::vector<std::string>& arguments);
// Runs the program to its end and returns its standard output; invalid UTF-8 is
// replaced, and a program that cannot start yields "".
std::string shellOutput(const std::string& path, const std::vector<std::string>& arguments);

}  // namespace varek::Commands
