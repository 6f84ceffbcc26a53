// The installed dictd databases (NAME.index beside NAME.dict.dz or NAME.dict, as
// Debian's dict-freedict-* packages install them), read directly: no daemon, no port.
// A database's index stays on disk: its first lookup reads it once to note where each line
// starts, ordered by a hash of the headword (four bytes a line); a lookup then reads the
// few index lines it compares and inflates only the compressed chunks that hold the entry.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/dictionary.h"

namespace varek {

class DictdDictionary : public Dictionary {
 public:
  static constexpr const char* kSystemFolder = "/usr/share/dictd";

  // Looks for databases in these folders on the first lookup, not before.
  explicit DictdDictionary(std::vector<std::string> folders = {kSystemFolder});
  ~DictdDictionary() override;

  // All entries whose headword equals the text, ignoring case, from the first database
  // (by name) that has one: each trimmed, in the order they stand in its body, set apart
  // by an empty line. Nothing when none has it or its file is damaged.
  // Safe to call from several threads.
  std::optional<std::string> definition(const std::string& text) const override;

 private:
  class Database;

  std::vector<std::string> folders_;
  mutable std::once_flag found_;
  mutable std::vector<std::unique_ptr<Database>> databases_;
};

}  // namespace varek
