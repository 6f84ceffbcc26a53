#include "bench/e2e/processes.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace varek::e2e {
namespace {

constexpr auto kExitPoll = std::chrono::milliseconds(1);
constexpr auto kStopWait = std::chrono::seconds(3);
constexpr double kKibPerMib = 1024;

std::string variableName(const std::string& assignment) {
  return assignment.substr(0, assignment.find('='));
}

}  // namespace

std::optional<pid_t> start(const Launch& launch) {
  std::vector<std::string> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string assignment(*variable);
    bool replaced = false;
    for (const std::string& own : launch.variables) {
      replaced = replaced || variableName(own) == variableName(assignment);
    }
    if (!replaced) environment.push_back(assignment);
  }
  environment.insert(environment.end(), launch.variables.begin(), launch.variables.end());
  std::vector<char*> variables;
  for (std::string& assignment : environment) variables.push_back(assignment.data());
  variables.push_back(nullptr);
  std::vector<std::string> arguments = launch.arguments;
  std::vector<char*> argumentPointers;
  for (std::string& argument : arguments) argumentPointers.push_back(argument.data());
  argumentPointers.push_back(nullptr);

  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, STDIN_FILENO, launch.input.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, launch.output.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (!launch.errors.empty()) {
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, launch.errors.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  pid_t process = 0;
  const int error = posix_spawnp(&process, argumentPointers[0], &files, nullptr,
                                 argumentPointers.data(), variables.data());
  posix_spawn_file_actions_destroy(&files);
  if (error != 0) return std::nullopt;
  return process;
}

bool awaitExit(pid_t process, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  do {
    int status = 0;
    const pid_t ended = waitpid(process, &status, WNOHANG);
    if (ended == process || ended < 0) return true;
    std::this_thread::sleep_for(kExitPoll);
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

void stop(pid_t process) {
  kill(process, SIGTERM);
  if (awaitExit(process, std::chrono::duration_cast<std::chrono::milliseconds>(kStopWait))) return;
  kill(process, SIGKILL);
  int status = 0;
  waitpid(process, &status, 0);
}

std::optional<double> residentMiB(pid_t process) {
  std::ifstream status("/proc/" + std::to_string(process) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (!line.starts_with("VmRSS:")) continue;
    std::istringstream fields(line.substr(6));
    double kib = 0;
    if (fields >> kib) return kib / kKibPerMib;
  }
  return std::nullopt;
}

bool onPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const std::filesystem::path candidate = std::filesystem::path(folder) / program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
  }
  return false;
}

}  // namespace varek::e2e
