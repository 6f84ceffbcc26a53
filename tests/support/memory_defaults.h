// A user-defaults store held in memory, for tests. Values keep their type, so reading
// a key with the wrong getter yields nothing, as the real store does.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <variant>

#include "platform/defaults.h"

namespace varek::test {

class MemoryDefaults : public Defaults {
 public:
  std::optional<std::string> data(const std::string& key) const override {
    auto bytes = get<Bytes>(key);
    if (!bytes) return std::nullopt;
    return bytes->value;
  }
  void setData(const std::string& key, const std::string& bytes) override {
    values_[key] = Bytes{bytes};
    ++writes_;
  }
  std::optional<bool> boolean(const std::string& key) const override { return get<bool>(key); }
  void setBoolean(const std::string& key, bool value) override {
    values_[key] = value;
    ++writes_;
  }
  std::optional<std::string> string(const std::string& key) const override {
    return get<std::string>(key);
  }
  void setString(const std::string& key, const std::string& value) override {
    values_[key] = value;
    ++writes_;
  }

  // One process alone: the store is always as saved.
  void update(const std::function<void(Defaults&)>& change) override { change(*this); }

  // How many times any value was written; lets a test see that a read left the store alone.
  int writes() const { return writes_; }

 private:
  struct Bytes {
    std::string value;
  };

  template <typename T>
  std::optional<T> get(const std::string& key) const {
    auto found = values_.find(key);
    if (found == values_.end() || !std::holds_alternative<T>(found->second)) return std::nullopt;
    return std::get<T>(found->second);
  }

  std::map<std::string, std::variant<Bytes, bool, std::string>> values_;
  int writes_ = 0;
};

}  // namespace varek::test
