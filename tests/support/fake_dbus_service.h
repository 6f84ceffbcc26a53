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

// A service on a bus connection of its own, answering in a thread of its own: the code under
// test waits for its replies with the main thread blocked, as it does with a real service.
// Without an answer, every call gets an empty reply.
class FakeService : public QDBusVirtualObject {
 public:
  using Answer = std::function<QVariantList(const QDBusMessage& call)>;

  FakeService(const QString& name, const QString& path, Answer answer = {})
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

  // Kept before it is answered, so a caller that waited for the reply finds its call here.
  bool handleMessage(const QDBusMessage& call, const QDBusConnection&) override {
    {
      std::lock_guard lock(mutex_);
      calls_.push_back(call);
    }
    return connection_.send(call.createReply(answer_ ? answer_(call) : QVariantList()));
  }
  QString introspect(const QString&) const override { return {}; }

  void send(const QString& path, const QString& interface, const QString& name,
            const QVariantList& arguments) {
    QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
    signal.setArguments(arguments);
    connection_.send(signal);
  }
  // The arguments of the calls so far of this method, named alone or after its interface;
  // of every call without a name.
  std::vector<QVariantList> calls(const QString& member = {}) {
    std::lock_guard lock(mutex_);
    std::vector<QVariantList> found;
    for (const QDBusMessage& call : calls_) {
      if (member.isEmpty() || call.member() == member ||
          call.interface() + "." + call.member() == member)
        found.push_back(call.arguments());
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
