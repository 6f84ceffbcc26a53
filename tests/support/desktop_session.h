// What the tests on the private desktop share: waiting for the desktop with a bound,
// running its tools, reading the log's messages, and clients of processes of their own.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace varek::test {

// Long enough for a loaded machine; a passing test never waits this long.
constexpr int kDesktopWaitMs = 20000;

inline bool waitFor(const std::function<bool()>& done) {
  return QTest::qWaitFor(done, kDesktopWaitMs);
}

// What the program printed.
inline QString output(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.start(program, arguments);
  process.waitForFinished(kDesktopWaitMs);
  return QString::fromUtf8(process.readAllStandardOutput());
}

// The log's messages that start with prefix, oldest first, without their time stamps.
inline std::vector<std::string> logMessages(const std::string& file, const std::string& prefix) {
  std::ifstream stream(file);
  std::vector<std::string> messages;
  for (std::string line; std::getline(stream, line);) {
    line = line.substr(line.find(' ') + 1);
    if (line.starts_with(prefix)) messages.push_back(line);
  }
  return messages;
}

// A program in a process of its own (an X client, say), ended with this object.
class Child {
 public:
  Child(const QString& program, const QStringList& arguments) {
    process.start(program, arguments);
    process.waitForStarted();
    pid = static_cast<int>(process.processId());
  }
  ~Child() {
    process.kill();
    process.waitForFinished();
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  QProcess process;
  int pid = 0;
};

// An xterm of its own, in front with the focus, where Ctrl+V pastes the clipboard.
class Xterm {
 public:
  explicit Xterm(const QStringList& command)
      : title_(QString("varek-xterm-%1").arg(++count_)),
        child_("xterm", QStringList{"-title", title_, "-geometry", "60x10+400+300", "-xrm",
                                    "XTerm*VT100.translations: #override Ctrl <Key>v: "
                                    "insert-selection(CLIPBOARD)",
                                    "-e"} +
                            command),
        window_(output("xdotool", {"search", "--sync", "--name", title_}).trimmed()) {
    activate();
  }
  void activate() const { output("xdotool", {"windowactivate", "--sync", window_}); }
  const QString& title() const { return title_; }
  const QString& window() const { return window_; }
  int pid() const { return child_.pid; }

 private:
  static inline int count_ = 0;
  QString title_;
  Child child_;
  QString window_;
};

}  // namespace varek::test
