#include "bench/e2e/x11_frame_watch.h"

#include <poll.h>
#include <xcb/damage.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace varek::e2e {
namespace {

// A frame drawn in several parts arrives within a few milliseconds; this much silence
// after the last drawing means the window shows what it is going to show.
constexpr auto kQuiet = std::chrono::milliseconds(250);
// A program that has not drawn after this long did not answer; a spawned launcher reading
// ten thousand entries takes well under it.
constexpr auto kNoAnswer = std::chrono::seconds(10);
constexpr auto kHidePoll = std::chrono::milliseconds(2);
// The event code flag of events that another client sent.
constexpr std::uint8_t kSentEvent = 0x80;
// The flag in a damage event's level that says more rectangles of the same drawing follow.
constexpr std::uint8_t kMore = 0x80;

struct FreeReply {
  void operator()(void* reply) const { std::free(reply); }
};
template <typename Reply>
using Owned = std::unique_ptr<Reply, FreeReply>;
using Connection = std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)>;
using KeySymbols = std::unique_ptr<xcb_key_symbols_t, decltype(&xcb_key_symbols_free)>;

class X11FrameWatch : public FrameWatch {
 public:
  X11FrameWatch(Connection connection, std::uint8_t damageNotify)
      : connection_(std::move(connection)),
        symbols_(xcb_key_symbols_alloc(connection_.get()), &xcb_key_symbols_free),
        root_(xcb_setup_roots_iterator(xcb_get_setup(connection_.get())).data->root),
        damageNotify_(damageNotify) {
    // Every new top-level window is announced to the root's substructure listeners.
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_.get(), root_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_.get());
  }

  bool watchWindowOf(pid_t process, std::string_view title) override {
    xcb_window_t best = XCB_NONE;
    int bestArea = 0;
    for (const xcb_window_t window : topLevelWindows()) {
      if (processOf(window) != process || nameOf(window) != title) continue;
      const Owned<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(
          connection_.get(), xcb_get_geometry(connection_.get(), window), nullptr));
      const int area = geometry ? geometry->width * geometry->height : 0;
      if (area > bestArea) {
        best = window;
        bestArea = area;
      }
    }
    if (best == XCB_NONE) return false;
    watch(best);
    launcherWindows_.push_back(best);
    return true;
  }

  void watchNewWindows(bool on) override { watchNew_ = on; }

  Clock::time_point press(Key key, std::initializer_list<Key> held) override {
    // What was drawn before belongs to an earlier answer.
    while (nextDamage(Clock::now())) {
    }
    for (const Key modifier : held) fake(XCB_KEY_PRESS, modifier);
    fake(XCB_KEY_PRESS, key);
    fake(XCB_KEY_RELEASE, key);
    for (auto modifier = std::rbegin(held); modifier != std::rend(held); ++modifier) {
      fake(XCB_KEY_RELEASE, *modifier);
    }
    const Clock::time_point sent = Clock::now();
    xcb_flush(connection_.get());
    return sent;
  }

  Frame awaitFrame(Clock::time_point since) override {
    Frame frame;
    std::optional<Clock::time_point> last;
    Clock::time_point deadline = since + kNoAnswer;
    while (const auto damage = nextDamage(deadline)) {
      last = damage->seen;
      if (damage->lastOfDrawing) ++frame.repaints;
      deadline = damage->seen + kQuiet;
    }
    if (last) frame.milliseconds = std::chrono::duration<double, std::milli>(*last - since).count();
    return frame;
  }

  bool awaitHidden(std::chrono::milliseconds limit) override {
    const Clock::time_point deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
      const bool shown = std::any_of(launcherWindows_.begin(), launcherWindows_.end(),
                                     [this](xcb_window_t window) { return viewable(window); });
      if (!shown) return true;
      std::this_thread::sleep_for(kHidePoll);
    }
    return false;
  }

 private:
  void watch(xcb_window_t window) {
    xcb_damage_create(connection_.get(), xcb_generate_id(connection_.get()), window,
                      XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
    xcb_flush(connection_.get());
  }

  // One drawing request reports the rectangles it touched as a run of events, the last
  // without the "more" flag; a shaped window's drawing is many rectangles.
  struct Damage {
    Clock::time_point seen;
    bool lastOfDrawing;
  };

  // The next rectangle drawn into a watched window, nothing when none came before the
  // deadline. Windows created meanwhile are watched on the way.
  std::optional<Damage> nextDamage(Clock::time_point deadline) {
    xcb_connection_t* connection = connection_.get();
    while (xcb_connection_has_error(connection) == 0) {
      const Owned<xcb_generic_event_t> event(xcb_poll_for_event(connection));
      if (event) {
        const std::uint8_t type = event->response_type & ~kSentEvent;
        if (type == damageNotify_) {
          const auto* damage = reinterpret_cast<xcb_damage_notify_event_t*>(event.get());
          return Damage{.seen = Clock::now(), .lastOfDrawing = (damage->level & kMore) == 0};
        }
        if (type == XCB_CREATE_NOTIFY && watchNew_) {
          watch(reinterpret_cast<xcb_create_notify_event_t*>(event.get())->window);
        }
        continue;
      }
      const auto left = deadline - Clock::now();
      if (left <= Clock::duration::zero()) return std::nullopt;
      const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
      const timespec wait{.tv_sec = seconds.count(),
                          .tv_nsec = std::chrono::nanoseconds(left - seconds).count()};
      pollfd readable{.fd = xcb_get_file_descriptor(connection), .events = POLLIN, .revents = 0};
      ppoll(&readable, 1, &wait, nullptr);
    }
    return std::nullopt;
  }

  void fake(std::uint8_t type, Key key) {
    Owned<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(symbols_.get(), key));
    if (!codes || codes.get()[0] == XCB_NO_SYMBOL) return;
    xcb_test_fake_input(connection_.get(), type, codes.get()[0], XCB_CURRENT_TIME, XCB_NONE, 0, 0,
                        0);
  }

  // The root's children and theirs: a managed window sits in its window manager's frame.
  std::vector<xcb_window_t> topLevelWindows() {
    std::vector<xcb_window_t> windows;
    const auto children = [this](xcb_window_t parent) {
      const Owned<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(
          connection_.get(), xcb_query_tree(connection_.get(), parent), nullptr));
      if (!tree) return std::vector<xcb_window_t>();
      const xcb_window_t* first = xcb_query_tree_children(tree.get());
      return std::vector<xcb_window_t>(first, first + xcb_query_tree_children_length(tree.get()));
    };
    for (const xcb_window_t child : children(root_)) {
      windows.push_back(child);
      for (const xcb_window_t grandchild : children(child)) windows.push_back(grandchild);
    }
    return windows;
  }

  Owned<xcb_get_property_reply_t> property(xcb_window_t window, xcb_atom_t name) {
    return Owned<xcb_get_property_reply_t>(xcb_get_property_reply(
        connection_.get(),
        xcb_get_property(connection_.get(), 0, window, name, XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
        nullptr));
  }

  pid_t processOf(xcb_window_t window) {
    if (pidAtom_ == XCB_NONE) {
      const char* name = "_NET_WM_PID";
      const Owned<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
          connection_.get(), xcb_intern_atom(connection_.get(), 0, std::strlen(name), name),
          nullptr));
      if (atom) pidAtom_ = atom->atom;
    }
    const auto reply = property(window, pidAtom_);
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4) return 0;
    return static_cast<pid_t>(
        *static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get())));
  }

  std::string nameOf(xcb_window_t window) {
    const auto reply = property(window, XCB_ATOM_WM_NAME);
    if (!reply || reply->format != 8) return "";
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                       static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
  }

  // A window that no longer exists is not on the screen either.
  bool viewable(xcb_window_t window) {
    const Owned<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
        connection_.get(), xcb_get_window_attributes(connection_.get(), window), nullptr));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
  }

  Connection connection_;
  KeySymbols symbols_;
  xcb_window_t root_;
  std::uint8_t damageNotify_;
  xcb_atom_t pidAtom_ = XCB_NONE;
  bool watchNew_ = false;
  std::vector<xcb_window_t> launcherWindows_;
};

}  // namespace

std::unique_ptr<FrameWatch> connectX11FrameWatch() {
  Connection connection(xcb_connect(nullptr, nullptr), &xcb_disconnect);
  if (xcb_connection_has_error(connection.get()) != 0) return nullptr;
  const xcb_query_extension_reply_t* damage =
      xcb_get_extension_data(connection.get(), &xcb_damage_id);
  const xcb_query_extension_reply_t* test = xcb_get_extension_data(connection.get(), &xcb_test_id);
  if (!damage || !damage->present || !test || !test->present) return nullptr;
  // The extension takes no other request before the client has said which version it speaks.
  const Owned<xcb_damage_query_version_reply_t> version(xcb_damage_query_version_reply(
      connection.get(),
      xcb_damage_query_version(connection.get(), XCB_DAMAGE_MAJOR_VERSION,
                               XCB_DAMAGE_MINOR_VERSION),
      nullptr));
  if (!version) return nullptr;
  return std::make_unique<X11FrameWatch>(std::move(connection),
                                         damage->first_event + XCB_DAMAGE_NOTIFY);
}

}  // namespace varek::e2e
