// The desktop entries by the names that windows give their application: the window class
// on X11, the app id on Wayland. Read on a thread of its own, since reading 10 000 entries
// costs a quarter of a second; a name that no entry matches makes a fresh read, at most
// every 30 seconds, so that an application installed meanwhile gets its name soon.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "platform/linux/desktop_entries.h"

namespace varek {

// Shared with the background reads in flight, so it is always held by a shared_ptr.
class ApplicationCatalog : public std::enable_shared_from_this<ApplicationCatalog> {
 public:
  struct Entry {
    std::string name;
    std::string path;
  };

  // Rises with every read that completes; 0 before the first.
  std::uint64_t generation() const { return generation_; }

  void readNow();
  // Starts a read unless one runs; false when no thread could be had for it.
  bool readInBackground();

  // An X11 window's entry: its StartupWMClass names the class (or the instance), else its
  // desktop id is the class or the instance in lower case. Waits for the first read.
  std::optional<Entry> findByWindowClass(std::string_view windowClass, std::string_view instance);
  // A Wayland toplevel's entry: its desktop id is the app id ("org.gnome.Nautilus" names
  // org.gnome.Nautilus.desktop), else it is found as a window class would be.
  std::optional<Entry> findByAppId(std::string_view appId);

  // The key of an application known by name only (no process id): negative, so that no
  // process id takes it, and the same in every process and every run, so that a pick
  // learned from the command line counts in the launcher.
  static int nameKey(std::string_view name);

 private:
  enum class Table { windowClass, desktopId };
  struct Probe {
    Table table;
    std::string_view key;
  };
  struct Tables {
    std::unordered_map<std::string, Entry> byWindowClass;  // StartupWMClass, as written
    std::unordered_map<std::string, Entry> byDesktopId;    // lower case, without ".desktop"
  };

  std::optional<Entry> find(std::initializer_list<Probe> probes, std::string_view missed);
  static Tables read(const DesktopEnvironment& environment);
  void store(Tables fresh);

  std::atomic<std::uint64_t> generation_ = 0;
  std::mutex mutex_;
  std::condition_variable readDone_;
  Tables tables_;
  std::unordered_set<std::string> missed_;
  std::chrono::steady_clock::time_point lastRead_;
  bool reading_ = false;
};

}  // namespace varek
