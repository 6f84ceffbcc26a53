// A desktop's D-Bus service played by the test: it records the calls it hears and answers
// them as the test says.
#pragma once

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QThread>
#include <functional>
#include <mutex>
#include <vector>

namespace varek {

// A service on a bus connection of its own, answering in a thread of its own: the binders
// wait for their replies with the main thread blocked, as they do with a real service.
class FakeService : public QDBusVirtualObject {
 public:
  using Answer = std::function<QVariantList(const QDBusMessage& call)>;

  FakeService(const QString& name, const QString& path, Answer answer)
      : connection_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)),
        answer_(std::move(answer)) {
    EXPECT_TRUE(connection_.registerVirtualObject(path, this, QDBusConnection::SubPath));
    thread_.start();
    moveToThread(&thread_);
    EXPECT_TRUE(connection_.registerService(name));
  }
  ~FakeService() override {
    QDBusConnection::disconnectFromBus(connection_.name());
    thread_.quit();
    thread_.wait();
  }

  bool handleMessage(const QDBusMessage& call, const QDBusConnection&) override {
    const QVariantList reply = answer_(call);
    connection_.send(call.createReply(reply));
    std::lock_guard lock(mutex_);
    calls_.push_back(call);
    return true;
  }
  QString introspect(const QString&) const override { return {}; }

  void send(const QString& path, const QString& interface, const QString& name,
            const QVariantList& arguments) {
    QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
    signal.setArguments(arguments);
    connection_.send(signal);
  }
  // The arguments of the calls of this method so far.
  std::vector<QVariantList> calls(const QString& member) {
    std::lock_guard lock(mutex_);
    std::vector<QVariantList> found;
    for (const QDBusMessage& call : calls_) {
      if (call.member() == member) found.push_back(call.arguments());
    }
    return found;
  }

 private:
  QThread thread_;
  QDBusConnection connection_;
  Answer answer_;
  std::mutex mutex_;
  std::vector<QDBusMessage> calls_;
};

}  // namespace varek
