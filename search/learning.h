// Remembers what the user picks, per item and per typed prefix, so that ranking can
// favour it. Persisted as JSON under the user-defaults key "learning.v1" after every pick.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/defaults.h"

namespace varek {

class Learning {
 public:
  // Loads the stored picks; missing or unreadable data starts an empty store.
  Learning(Defaults& defaults, const Clock& clock);

  // Counts one activation of id after the raw query text, and saves.
  void record(const std::string& id, const std::string& query);
  // The learned bonus of id for a query key made by queryKey().
  double boost(const std::string& id, const std::string& key) const;
  // The ids used most, weighted by recency, best first; at most count of them.
  std::vector<std::string> top(std::size_t count) const;

  // The normalised form of a query under which picks are stored: trimmed and folded.
  static std::string queryKey(std::string_view query);

  struct Use {
    double count = 0;
    double last = 0;  // seconds since 2001-01-01 UTC
  };
  struct Store {
    std::map<std::string, Use> uses;
    std::map<std::string, std::map<std::string, long long>> picks;
  };

 private:
  void save();

  Defaults& defaults_;
  const Clock& clock_;
  Store store_;
  // The stored bytes that could not be read, kept until the first save copies them aside.
  std::optional<std::string> unreadable_;
};

}  // namespace varek
