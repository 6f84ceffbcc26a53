// The user-defaults store on Linux: one JSON object in a private file (mode 0600), read
// once at start and rewritten whole, atomically, on every change. Bytes are kept as
// {"data": "<base64>"}, so any byte sequence survives; flags and texts stay readable.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/defaults.h"

namespace varek {

class JsonDefaults : public Defaults {
 public:
  // Loads the file; a missing one is an empty store. A file that cannot be read as a
  // JSON object is an empty store too, and is moved aside (to "….unreadable") before
  // the first write, so its content is never lost silently. Main thread only.
  explicit JsonDefaults(std::string file);
  ~JsonDefaults() override;

  std::optional<std::string> data(const std::string& key) const override;
  void setData(const std::string& key, const std::string& bytes) override;
  std::optional<bool> boolean(const std::string& key) const override;
  void setBoolean(const std::string& key, bool value) override;
  std::optional<std::string> string(const std::string& key) const override;
  void setString(const std::string& key, const std::string& value) override;

 private:
  struct Values;

  // Writes every value; a failed write keeps the values in memory and the old file.
  void save();

  std::string file_;
  std::unique_ptr<Values> values_;
  bool setAsidePending_ = false;
};

}  // namespace varek
