// The user-defaults store: a small persistent key-value map for settings ("hotkey",
// "clipboardEnabled") and the learning store ("learning.v1").
#pragma once

#include <optional>
#include <string>

namespace varek {

class Defaults {
 public:
  virtual ~Defaults() = default;

  // The bytes stored under key by setData, or nothing when absent or of another type.
  virtual std::optional<std::string> data(const std::string& key) const = 0;
  // Replaces the value under key; a later data(key) returns exactly these bytes, also
  // after a restart of the process.
  virtual void setData(const std::string& key, const std::string& bytes) = 0;

  // The flag stored under key, or nothing when absent or of another type.
  virtual std::optional<bool> boolean(const std::string& key) const = 0;
  virtual void setBoolean(const std::string& key, bool value) = 0;

  // The UTF-8 text stored under key, or nothing when absent or of another type.
  virtual std::optional<std::string> string(const std::string& key) const = 0;
  virtual void setString(const std::string& key, const std::string& value) = 0;
};

}  // namespace varek
