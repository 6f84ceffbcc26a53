// The user-defaults store: a small persistent key-value map for settings ("hotkey",
// "clipboardEnabled") and the learning store ("learning.v1"). The launcher and the command
// line change it at the same time, so every write is an operation on the store as it is
// now, never a copy of one process's older view.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace varek {

class Defaults {
 public:
  virtual ~Defaults() = default;

  // The bytes stored under key by setData, or nothing when absent or of another type.
  // Reads see what other processes stored before, reasonably fresh.
  virtual std::optional<std::string> data(const std::string& key) const = 0;
  // Replaces the value under key and no other; a later data(key) returns exactly these
  // bytes, also after a restart of the process.
  virtual void setData(const std::string& key, const std::string& bytes) = 0;

  // The flag stored under key, or nothing when absent or of another type.
  virtual std::optional<bool> boolean(const std::string& key) const = 0;
  virtual void setBoolean(const std::string& key, bool value) = 0;

  // The UTF-8 text stored under key, or nothing when absent or of another type.
  virtual std::optional<std::string> string(const std::string& key) const = 0;
  virtual void setString(const std::string& key, const std::string& value) = 0;

  // For values that are merged rather than replaced (counts that several processes raise):
  // the store handed to change holds what every process stored up to now, and what change
  // writes to it is stored at once, with no other process's write in between. change reads
  // and writes only through the store it is handed.
  virtual void update(const std::function<void(Defaults& stored)>& change) = 0;
};

}  // namespace varek
