// The launcher's only diagnostic output: one line per event appended to a text file,
// "2026-12-06T05:05:56Z message". Control signals use it as their reply channel.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace varek {

class Log {
 public:
  // A message is cut to this many characters: far more than any line the program writes
  // itself, and a bound on what a query from outside can make the file grow by.
  static constexpr std::size_t kMessageCharacters = 500;
  // Past this size the file becomes FILE.1, replacing an older one, and a new file starts;
  // so the log never takes more than about twice this much.
  static constexpr std::size_t kRotationBytes = 1 << 20;

  Log(std::string file, const Clock& clock) : file_(std::move(file)), clock_(clock) {}

  // Appends the time stamp, a blank, the printable message and a line feed; creates the
  // file if it is missing but never its folder. Failures are swallowed. Several processes
  // may write at once: each line is whole, and only one of them rotates the file.
  void write(std::string_view message) const;

  // The message as it is written: every control character and line separator shown as an
  // escape ("\n", "\x1B", "\u2028"), so no message can begin a line of its own, and cut to
  // kMessageCharacters characters, the last of which is then "…".
  static std::string printable(std::string_view message);

  // The ISO 8601 UTC time stamp of a time in seconds since 2001-01-01 UTC, whole seconds.
  static std::string timestamp(double time);

  const std::string& file() const { return file_; }

 private:
  std::string file_;
  const Clock& clock_;
};

}  // namespace varek
