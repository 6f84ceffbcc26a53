// The launcher's only diagnostic output: one line per event appended to a text file,
// "2026-12-06T05:05:56Z message". Control signals use it as their reply channel.
#pragma once

#include <string>
#include <string_view>

#include "platform/clock.h"

namespace varek {

class Log {
 public:
  Log(std::string file, const Clock& clock) : file_(std::move(file)), clock_(clock) {}

  // Appends the time stamp, a blank, message and a line feed; creates the file if it is
  // missing but never its folder. Failures are swallowed.
  void write(std::string_view message) const;

  // The ISO 8601 UTC time stamp of a time in seconds since 2001-01-01 UTC, whole seconds.
  static std::string timestamp(double time);

  const std::string& file() const { return file_; }

 private:
  std::string file_;
  const Clock& clock_;
};

}  // namespace varek
