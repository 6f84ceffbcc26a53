// The user-defaults store on Linux: one JSON object in a private file (mode 0600). Every
// change rereads the file under a lock, changes what it found and rewrites it atomically,
// so the launcher and "varek run" never undo each other's writes. Bytes are kept as
// {"data": "<base64>"}, so any byte sequence survives; flags and texts stay readable.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/defaults.h"

namespace varek {

class JsonDefaults : public Defaults {
 public:
  // Loads the file, after removing what writers killed while saving left beside it; a
  // missing file is an empty store. A file that cannot be read as a JSON object is an
  // empty store too, and is moved aside (to "….unreadable") by the next write, so its
  // content is never lost silently. Main thread only.
  explicit JsonDefaults(std::string file);
  ~JsonDefaults() override;

  // Reads cost a stat of the file, and a reread when another process changed it.
  std::optional<std::string> data(const std::string& key) const override;
  void setData(const std::string& key, const std::string& bytes) override;
  std::optional<bool> boolean(const std::string& key) const override;
  void setBoolean(const std::string& key, bool value) override;
  std::optional<std::string> string(const std::string& key) const override;
  void setString(const std::string& key, const std::string& value) override;
  // A failed write keeps the change in memory and the old file on disk.
  void update(const std::function<void(Defaults& stored)>& change) override;

 private:
  class Values;
  struct State;

  // Takes in the file again when its stamp says another process changed it.
  void refresh() const;

  std::string file_;
  // Reads take in what other processes wrote, so they change the state too.
  mutable std::unique_ptr<State> state_;
};

}  // namespace varek
