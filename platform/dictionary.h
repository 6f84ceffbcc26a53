// The system's dictionaries, for the "def" and "lex" rows.
#pragma once

#include <optional>
#include <string>

namespace varek {

class Dictionary {
 public:
  virtual ~Dictionary() = default;

  // The definition of the whole text as plain text, or nothing when no installed
  // dictionary has it. Called on every keystroke of such a query, so it must be quick.
  virtual std::optional<std::string> definition(const std::string& text) const = 0;
};

}  // namespace varek
