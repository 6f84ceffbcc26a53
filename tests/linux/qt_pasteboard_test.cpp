// QtPasteboard against real clipboard owners in other processes: xclip, and a helper that
// marks its copy as concealed.
#include "platform/linux/qt_pasteboard.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <functional>

namespace varek {
namespace {

using ::testing::Contains;
using ::testing::IsSupersetOf;
using ::testing::Not;

// Another program takes the selection within milliseconds; this only bounds a failure.
constexpr int kDeadlineMs = 20000;

bool spinUntil(const std::function<bool()>& done) {
  const QDeadlineTimer deadline(kDeadlineMs);
  while (!done() && !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

TEST(QtPasteboard, ReadsWhatAnotherProgramCopied) {
  struct Copy {
    const char* shows;
    QString program;
    QStringList arguments;
    QByteArray input;
    std::vector<std::string> types;  // among types(), in any order
    std::vector<std::string> files;
    std::optional<std::string> text;
  };
  const QStringList xclip{"-selection", "clipboard", "-quiet"};
  const std::vector<Copy> copies{
      {"plain text", "xclip", xclip, "Grüße aus Köln", {"text/plain"}, {}, "Grüße aus Köln"},
      {"a uri-list gives its local files, decoded, and no text",
       "xclip",
       xclip + QStringList{"-t", "text/uri-list"},
       "file:///a%20b.txt\nhttps://example.org/d.txt\nfile:///c.txt",
       {"text/uri-list"},
       {"/a b.txt", "/c.txt"},
       std::nullopt},
      {"a concealed copy keeps its marker",
       VAREK_CLIPBOARD_OWNER,
       {"hunter2"},
       {},
       {"text/plain", "x-kde-passwordManagerHint"},
       {},
       "hunter2"},
  };
  QtPasteboard pasteboard;
  for (const Copy& copy : copies) {
    SCOPED_TRACE(copy.shows);
    const std::int64_t before = pasteboard.changeCount();
    QProcess owner;
    owner.start(copy.program, copy.arguments);
    owner.write(copy.input);
    owner.closeWriteChannel();
    ASSERT_TRUE(spinUntil([&] { return pasteboard.changeCount() > before; }));
    // The owner answers requests for its content only once it is serving.
    ASSERT_TRUE(spinUntil([&] { return !pasteboard.types().empty(); }));
    EXPECT_THAT(pasteboard.types(), IsSupersetOf(copy.types));
    for (const char* target : {"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS"})
      EXPECT_THAT(pasteboard.types(), Not(Contains(target)));
    EXPECT_EQ(pasteboard.filePaths(), copy.files);
    EXPECT_EQ(pasteboard.text(), copy.text);

    // The owner's exit empties the clipboard, a change of its own; waiting for it keeps it
    // from passing for the next owner's.
    const std::int64_t held = pasteboard.changeCount();
    owner.kill();
    owner.waitForFinished();
    EXPECT_TRUE(spinUntil([&] { return pasteboard.changeCount() > held; }));
  }
}

TEST(QtPasteboard, SetTextIsCountedAndServedToOthers) {
  const std::vector<std::pair<const char*, std::string>> texts{
      {"a word", "Zwischenablage"}, {"lines and accents survive", "Café\nzweite Zeile"}};
  QtPasteboard pasteboard;
  for (const auto& [shows, text] : texts) {
    SCOPED_TRACE(shows);
    const std::int64_t before = pasteboard.changeCount();
    pasteboard.setText(text);
    EXPECT_GT(pasteboard.changeCount(), before);
    EXPECT_EQ(pasteboard.text(), text);
    // This process must go on answering the selection request while xclip reads.
    QProcess reader;
    reader.start("xclip", {"-o", "-selection", "clipboard"});
    ASSERT_TRUE(spinUntil([&] { return reader.state() == QProcess::NotRunning; }));
    EXPECT_EQ(reader.readAllStandardOutput().toStdString(), text);
  }
}

}  // namespace
}  // namespace varek
