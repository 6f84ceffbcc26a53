// Counts the events an object hears of that match, as an event filter installed on it.
#pragma once

#include <QEvent>
#include <QObject>
#include <functional>
#include <utility>

namespace varek::test {

struct EventCount : QObject {
  explicit EventCount(std::function<bool(const QEvent&)> matches) : matches(std::move(matches)) {}
  bool eventFilter(QObject*, QEvent* event) override {
    count += matches(*event) ? 1 : 0;
    return false;
  }

  std::function<bool(const QEvent&)> matches;
  int count = 0;
};

}  // namespace varek::test
