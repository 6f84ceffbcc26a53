// QtPasteboard against real clipboard owners in other processes: xclip, and a helper that
// marks its copies as concealed.
#include "platform/linux/qt_pasteboard.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>

#include "sources/clipboard_history.h"
#include "tests/support/desktop_session.h"
#include "tests/support/memory_defaults.h"
#include "tests/support/virtual_scheduler.h"

namespace varek {
namespace {

using test::waitFor;
using ::testing::Contains;
using ::testing::IsSupersetOf;
using ::testing::Not;
using ::testing::StartsWith;

const char* const kMarker = "x-kde-passwordManagerHint";

bool marked(std::string_view type) { return type == kMarker; }

// Starts an owner and waits until the clipboard is its and it serves it.
void own(QProcess& owner, QtPasteboard& pasteboard, const QString& program,
         const QStringList& arguments, const QByteArray& input) {
  const std::int64_t before = pasteboard.changeCount();
  owner.start(program, arguments);
  owner.write(input);
  owner.closeWriteChannel();
  ASSERT_TRUE(waitFor([&] { return pasteboard.changeCount() > before; }));
  EXPECT_TRUE(waitFor([&] { return !pasteboard.types().empty(); }));
}

// The owner's exit empties the clipboard, a change of its own; waiting for it keeps it from
// passing for the next owner's.
void endOwner(QProcess& owner, QtPasteboard& pasteboard) {
  const std::int64_t held = pasteboard.changeCount();
  owner.kill();
  owner.waitForFinished();
  EXPECT_TRUE(waitFor([&] { return pasteboard.changeCount() > held; }));
}

const QStringList kXclip{"-selection", "clipboard", "-quiet"};

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
  const std::vector<Copy> copies{
      {"plain text", "xclip", kXclip, "Grüße aus Köln", {"text/plain"}, {}, "Grüße aus Köln"},
      {"a uri-list gives its local files, decoded, and no text",
       "xclip",
       kXclip + QStringList{"-t", "text/uri-list"},
       "file:///a%20b.txt\nhttps://example.org/d.txt\nfile:///c.txt",
       {"text/uri-list"},
       {"/a b.txt", "/c.txt"},
       std::nullopt},
      {"a concealed copy", VAREK_CLIPBOARD_OWNER, {}, {}, {"text/plain", kMarker}, {}, "geheim 0"},
  };
  QtPasteboard pasteboard;
  for (const Copy& copy : copies) {
    SCOPED_TRACE(copy.shows);
    QProcess owner;
    own(owner, pasteboard, copy.program, copy.arguments, copy.input);
    EXPECT_EQ(pasteboard.filePaths(), copy.files);
    EXPECT_EQ(pasteboard.text(), copy.text);
    const std::optional<Pasteboard::Snapshot> snapshot = pasteboard.snapshot(marked);
    ASSERT_TRUE(snapshot);
    for (const std::vector<std::string>& types : {pasteboard.types(), snapshot->types}) {
      EXPECT_THAT(types, IsSupersetOf(copy.types));
      for (const char* target : {"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS"})
        EXPECT_THAT(types, Not(Contains(target)));
    }
    EXPECT_EQ(snapshot->filePaths, copy.files);
    // A snapshot does not read the content of a concealed copy at all.
    const bool concealed = std::ranges::find(copy.types, kMarker) != copy.types.end();
    EXPECT_EQ(snapshot->text, concealed ? std::nullopt : copy.text);
    endOwner(owner, pasteboard);
  }
}

// A text too large for the history is not read on, so it cannot hold the main thread.
TEST(QtPasteboard, SnapshotTakesALargeCopyInChunksUpToItsBound) {
  const std::vector<std::pair<int, bool>> sizes{{3 << 20, true}, {9 << 20, false}};
  QtPasteboard pasteboard;
  for (const auto& [size, read] : sizes) {
    SCOPED_TRACE(size);
    const QByteArray text(size, 'x');
    QProcess owner;
    own(owner, pasteboard, "xclip", kXclip, text);
    const std::optional<Pasteboard::Snapshot> snapshot = pasteboard.snapshot(marked);
    EXPECT_EQ(snapshot.has_value(), read);
    EXPECT_TRUE(!snapshot || snapshot->text == text.toStdString());
    endOwner(owner, pasteboard);
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
    // Our own copy is read from memory: asked over X11, this process could not answer.
    EXPECT_EQ(pasteboard.snapshot(marked).value_or(Pasteboard::Snapshot{}).text, text);
    // This process must go on answering the selection request while xclip reads.
    QProcess reader;
    reader.start("xclip", {"-o", "-selection", "clipboard"});
    ASSERT_TRUE(waitFor([&] { return reader.state() == QProcess::NotRunning; }));
    EXPECT_EQ(reader.readAllStandardOutput().toStdString(), text);
  }
}

// A password manager may copy again between the history's look at the markers and its read
// of the text; the secret must not slip in under the markers of the copy before.
TEST(QtPasteboard, HistoryKeepsNoConcealedCopyOfAFlood) {
  constexpr int kCopies = 2000;
  QtPasteboard pasteboard;
  test::VirtualScheduler scheduler;
  test::MemoryDefaults defaults;
  QTemporaryDir folder;
  const auto history = std::make_shared<ClipboardHistory>(
      pasteboard, scheduler, scheduler, defaults,
      folder.filePath("Varek/zwischenablage.json").toStdString());
  QProcess owner;
  owner.start(VAREK_CLIPBOARD_OWNER, {QString::number(kCopies)});
  ASSERT_TRUE(waitFor([&] {
    history->poll();
    return owner.canReadLine();
  }));
  endOwner(owner, pasteboard);
  EXPECT_FALSE(history->entries().empty()) << "the unmarked copies are recorded";
  for (const ClipboardHistory::Entry& entry : history->entries())
    EXPECT_THAT(entry.text, Not(StartsWith("geheim")));
}

}  // namespace
}  // namespace varek
