// Remembers what the user picks, per item and per typed prefix, so that ranking can
// favour it. Persisted as JSON under the user-defaults key "learning.v1" after every pick,
// which is added to the store as saved at that moment, so several processes' picks add up.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/clock.h"
#include "platform/defaults.h"

namespace varek {

class Learning {
 public:
  // Loads the stored picks; missing or unreadable data starts an empty store.
  Learning(Defaults& defaults, const Clock& clock);

  // Counts one activation of id after the raw query text in the store as saved now (with
  // what other processes recorded since this one read it), saves, and keeps the result.
  // Stored data that cannot be read is set aside under "learning.v1.unreadable" first.
  void record(const std::string& id, const std::string& query);
  // The learned bonus of id for a query key made by queryKey().
  double boost(const std::string& id, const std::string& key) const;
  // Whether boost() may give id anything: the store holds a use or a pick of it.
  bool knows(const std::string& id) const { return known_.contains(id); }
  // Rises with every change of the store, so what a caller derives from it holds until then.
  std::size_t revision() const { return revision_; }
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
  void keep(Store store);

  Defaults& defaults_;
  const Clock& clock_;
  Store store_;
  std::unordered_set<std::string> known_;  // the ids of store_'s uses and picks
  std::size_t revision_ = 0;
};

}  // namespace varek
