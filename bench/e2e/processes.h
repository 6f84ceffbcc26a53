// The programs under test as the benchmark runs them: started with a few variables of
// their own, waited for, stopped, and asked how much memory they hold.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace varek::e2e {

struct Launch {
  std::vector<std::string> arguments;       // the first is the program, looked up on PATH
  std::vector<std::string> variables = {};  // "NAME=value", set over this process's environment
  std::string input = "/dev/null";
  std::string output = "/dev/null";
  // Where the program's complaints go: "" keeps them on this process's standard error.
  std::string errors = "/dev/null";
};

// The started process, or nothing when it could not be started.
std::optional<pid_t> start(const Launch& launch);
// Whether the process ended within the limit; it is reaped if it did.
bool awaitExit(pid_t process, std::chrono::milliseconds limit);
// Asks the process to end, kills it when it does not, and reaps it.
void stop(pid_t process);
// Its resident memory (VmRSS) in MiB, nothing when it is gone.
std::optional<double> residentMiB(pid_t process);
// Whether a program of this name is on PATH.
bool onPath(const std::string& program);

}  // namespace varek::e2e
