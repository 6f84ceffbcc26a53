// An in-memory desktop for the core's tests: every platform interface backed by plain
// data that a test sets up and inspects. FakePlatform bundles one of each.
#pragma once

#include <stdlib.h>

#include <deque>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/memory_defaults.h"
#include "tests/support/virtual_scheduler.h"

namespace varek::test {

class FakePasteboard : public Pasteboard {
 public:
  bool focusOnly = false;  // the desktop shows the clipboard only to the focused program

  std::int64_t changeCount() const override { return changeCount_; }
  bool recordsWithoutFocus() const override { return !focusOnly; }
  std::vector<std::string> types() const override {
    ++contentReads_;
    return types_;
  }
  std::vector<std::string> filePaths() const override {
    ++contentReads_;
    return files_;
  }
  std::optional<std::string> text() const override {
    ++contentReads_;
    return text_;
  }
  void setText(const std::string& text) override { copy(text); }

  // What another application puts on the clipboard.
  void copy(std::optional<std::string> text, std::vector<std::string> types = {"text/plain"},
            std::vector<std::string> files = {}) {
    text_ = std::move(text);
    types_ = std::move(types);
    files_ = std::move(files);
    ++changeCount_;
  }
  int contentReads() const { return contentReads_; }

 private:
  std::int64_t changeCount_ = 7;
  std::optional<std::string> text_;
  std::vector<std::string> types_;
  std::vector<std::string> files_;
  mutable int contentReads_ = 0;
};

class FakeWorkspace : public Workspace {
 public:
  std::vector<RunningApp> apps;
  std::optional<RunningApp> frontmost;
  std::vector<std::string> openedFiles, openedApps, revealed;
  std::vector<int> activated;
  int beeps = 0;

  std::vector<RunningApp> runningApplications() const override { return apps; }
  std::optional<RunningApp> frontmostApplication() const override { return frontmost; }
  bool openUrl(const std::string&) override { return true; }
  bool openFile(const std::string& path) override {
    openedFiles.push_back(path);
    return true;
  }
  bool openApplication(const std::string& path) override {
    openedApps.push_back(path);
    return true;
  }
  void reveal(const std::string& path) override { revealed.push_back(path); }
  void activate(int pid) override { activated.push_back(pid); }
  void terminate(int) override {}
  void beep() override { ++beeps; }
};

class FakeWindowServer : public WindowServer {
 public:
  bool trusted = true;
  bool placing = true;
  int trustRequests = 0;
  std::map<int, std::vector<WindowInfo>> windows;  // by pid
  std::map<int, WindowId> focused;                 // by pid
  std::map<WindowId, Rect> frames;
  std::vector<std::pair<WindowId, Rect>> placed;
  std::vector<WindowId> raised;
  std::vector<ScreenInfo> screenList{{{0, 0, 1440, 900}, {0, 25, 1440, 875}}};
  int pastes = 0;
  bool pasting = true;  // the paste shortcut can be typed here

  bool isTrusted() const override { return trusted; }
  void requestTrust() override { ++trustRequests; }
  std::string unreachableReason() const override { return trusted ? "" : "Keine Fensterliste"; }
  std::string unreachableCause() const override { return trusted ? "" : "keine Fensterliste"; }
  bool canPlaceWindows() const override { return trusted && placing; }
  std::string placementReason() const override {
    return canPlaceWindows() ? "" : "Platzieren geht hier nicht";
  }
  std::vector<WindowInfo> windowsOf(int pid) const override {
    auto found = windows.find(pid);
    return found == windows.end() ? std::vector<WindowInfo>{} : found->second;
  }
  std::optional<WindowId> focusedWindow(int pid) const override {
    auto found = focused.find(pid);
    if (!trusted || found == focused.end()) return std::nullopt;
    return found->second;
  }
  std::optional<Rect> frame(WindowId window) const override {
    auto found = frames.find(window);
    if (!trusted || found == frames.end()) return std::nullopt;
    return found->second;
  }
  void setFrame(WindowId window, Rect frame) override {
    placed.emplace_back(window, frame);
    frames[window] = frame;
  }
  void raise(WindowId window) override { raised.push_back(window); }
  std::vector<ScreenInfo> screens() const override { return screenList; }
  std::optional<ScreenInfo> mainScreen() const override {
    if (screenList.empty()) return std::nullopt;
    return screenList.front();
  }
  bool canPaste() const override { return pasting; }
  void postPaste() override { ++pastes; }
};

// Keeps every query's callback, also once the query stopped: a real index may still deliver
// a result list it queued before.
class FakeFileIndex : public FileIndex {
 public:
  std::vector<Request> requests;
  std::vector<Results> callbacks;

  std::unique_ptr<Query> start(const Request& request, Results deliver) override {
    requests.push_back(request);
    callbacks.push_back(std::move(deliver));
    return std::make_unique<FakeQuery>(stopped_.emplace_back(false));
  }
  // The index reports this result list to the latest query, unless it was stopped.
  void deliver(const std::vector<Hit>& hits) {
    if (!running()) return;
    const Results latest = callbacks.back();  // the delivery may start the next query
    latest(hits);
  }
  bool running() const { return !stopped_.empty() && !stopped_.back(); }

 private:
  struct FakeQuery : Query {
    explicit FakeQuery(bool& stopped) : stopped(stopped) {}
    ~FakeQuery() override { stop(); }
    void stop() override { stopped = true; }
    bool& stopped;
  };
  std::deque<bool> stopped_;  // a deque keeps each flag in place as more are added
};

class FakeDictionary : public Dictionary {
 public:
  std::map<std::string, std::string> definitions;
  std::optional<std::string> definition(const std::string& text) const override {
    auto found = definitions.find(text);
    if (found == definitions.end()) return std::nullopt;
    return found->second;
  }
};

class FakeSystemActions : public SystemActions {
 public:
  std::vector<SystemAction> performed;
  void perform(SystemAction action) override { performed.push_back(action); }
  void runInTerminal(const std::string&) override {}
};

class FakeAppScanner : public AppScanner {
 public:
  std::vector<ScannedApp> apps, settings;
  std::string stamp;  // the fingerprint; empty: unknown
  AppScan scan() const override {
    return {.apps = apps, .settings = settings, .fingerprint = stamp};
  }
  std::string fingerprint() const override { return stamp; }
};

// Files go to a fresh folder of the test's own, removed afterwards.
class FakePaths : public Paths {
 public:
  FakePaths() {
    std::string pattern = (std::filesystem::temp_directory_path() / "varek-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) folder_ = pattern;
  }
  ~FakePaths() override {
    std::error_code ignored;
    std::filesystem::permissions(folder_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(folder_, ignored);
  }
  std::string logFile() const override { return (folder_ / "Varek.log").string(); }
  std::string clipboardFile() const override {
    return (folder_ / "Varek" / "zwischenablage.json").string();
  }
  std::string homeFolder() const override { return home; }
  const std::filesystem::path& folder() const { return folder_; }

  std::string home = "/home/anna";

 private:
  std::filesystem::path folder_;
};

struct FakePlatform {
  VirtualScheduler scheduler;
  MemoryDefaults defaults;
  FakePasteboard pasteboard;
  FakeWorkspace workspace;
  FakeWindowServer windowServer;
  FakeFileIndex fileIndex;
  FakeDictionary dictionary;
  FakeSystemActions systemActions;
  FakeAppScanner appScanner;
  FakePaths paths;

  Platform platform() {
    return {scheduler, scheduler,  defaults,      pasteboard, workspace, windowServer,
            fileIndex, dictionary, systemActions, appScanner, paths};
  }
};

}  // namespace varek::test
