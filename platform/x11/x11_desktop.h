// Our own connection to the X server and a cache of the desktop's top-level client windows
// (_NET_CLIENT_LIST): process id, title, class, kind, and which one is active. Property
// events keep the cache current on the main thread, so the workspace and the window server
// read it from any thread without a round trip to the X server.
#pragma once

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class QSocketNotifier;

namespace varek {

// Owns what xcb hands out (replies, events, key code lists), which is released with free().
struct XcbFree {
  void operator()(void* memory) const { std::free(memory); }
};
template <typename T>
using XcbOwned = std::unique_ptr<T, XcbFree>;

class X11Desktop {
 public:
  struct Client {
    xcb_window_t id = XCB_WINDOW_NONE;
    int pid = 0;  // _NET_WM_PID; 0 when the window names no process of this machine
    // The key its application is known by: the pid, else a negative number drawn from the
    // window class (see applicationKey).
    int application = 0;
    std::string title;             // _NET_WM_NAME, else WM_NAME, decoded and bounded; may be empty
    std::string instance;          // WM_CLASS instance name ("xterm")
    std::string windowClass;       // WM_CLASS class name ("XTerm")
    bool normal = false;           // an ordinary window that task lists show
    std::uint64_t activation = 0;  // higher for a later activation; 0 when never active
  };

  struct Snapshot {
    std::vector<Client> clients;         // in _NET_CLIENT_LIST order, oldest first
    std::vector<xcb_window_t> stacking;  // _NET_CLIENT_LIST_STACKING, bottom to top
    xcb_window_t active = XCB_WINDOW_NONE;
    bool windowManager = false;  // an EWMH window manager runs

    const Client* find(xcb_window_t window) const;
    // The windows of this application, topmost first.
    std::vector<Client> clientsOf(int application) const;
    // The application's window that has or last had focus: the active one, else the most
    // recently active one, else its topmost.
    std::optional<xcb_window_t> latestOf(int application, bool normalOnly) const;
  };

  // Windows whose client names no process of this machine (xmessage and other old
  // clients, programs shown from another host) belong to the application of their window
  // class. Its key is negative, so no process id takes it, and the same in every process
  // and every run, so that a pick learned from the command line counts in the launcher.
  static int applicationKey(const Client& client);

  // Connects to the display of this name, or to $DISPLAY without one. An empty name or an
  // unreachable display leaves the desktop absent: no connection, every list empty. Made on
  // the main thread of a running Qt application, the cache then follows every change;
  // elsewhere it holds what it read here until update() is called.
  explicit X11Desktop(const std::optional<std::string>& display = std::nullopt);
  ~X11Desktop();
  X11Desktop(const X11Desktop&) = delete;
  X11Desktop& operator=(const X11Desktop&) = delete;

  // The cache as it is now; callable on any thread, never asks the X server.
  std::shared_ptr<const Snapshot> snapshot() const;

  // For requests of our own; connection() is nullptr when the desktop is absent.
  xcb_connection_t* connection() const { return connection_; }
  xcb_ewmh_connection_t* ewmh() const { return ewmh_.get(); }
  int screenNumber() const { return screenNumber_; }
  xcb_window_t root() const { return root_; }
  // Sends the requests made so far.
  void flush() const;
  // Asks the window manager to raise and focus the window, the way a pager does, so that
  // focus-stealing prevention does not hold it back; then flushes.
  void activate(xcb_window_t window) const;

  // Applies the events received so far to the cache. The main thread's event loop calls it
  // when the connection has data; a program without an event loop may call it itself.
  void update();

 private:
  struct Changes;
  void drain(bool readSocket);
  void apply(const Changes& changes);
  bool checkWindowManager();
  void publish();
  void disconnect();

  xcb_connection_t* connection_ = nullptr;
  std::unique_ptr<xcb_ewmh_connection_t> ewmh_;
  int screenNumber_ = 0;
  xcb_window_t root_ = XCB_WINDOW_NONE;
  xcb_atom_t compoundText_ = XCB_ATOM_NONE;
  std::string host_;  // this machine's name, which WM_CLIENT_MACHINE of a local client gives
  std::unique_ptr<QSocketNotifier> notifier_;
  bool lost_ = false;  // the connection broke; nothing more will come

  // Written on the main thread only; published to readers as an immutable copy.
  Snapshot state_;
  xcb_window_t windowManagerCheck_ = XCB_WINDOW_NONE;
  std::uint64_t activations_ = 0;
  std::unordered_map<xcb_window_t, std::uint64_t> lastActive_;

  mutable std::mutex mutex_;
  std::shared_ptr<const Snapshot> published_;
};

}  // namespace varek
