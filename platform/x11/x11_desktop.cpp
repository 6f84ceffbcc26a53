#include "platform/x11/x11_desktop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <set>
#include <string_view>

#include "platform/linux/application_catalog.h"
#include "platform/x11/x11_text.h"
#include "search/unicode.h"

namespace varek {
namespace {

// How often events that arrived with a reply are taken from xcb's queue at the latest.
constexpr int kQueueSweepMs = 250;

// The longest property value we read, in 32-bit units (256 KiB): far beyond any real title
// or client list, and a bound on what a misbehaving client can make us copy.
constexpr std::uint32_t kPropertyUnits = 1u << 16;
// Titles are read up to 16 KiB: more bytes than the longest title we keep takes in any
// encoding, and far less to copy when a client sets megabytes.
constexpr std::uint32_t kTitleUnits = 1u << 12;
constexpr std::string_view kCompoundText = "COMPOUND_TEXT";
// The X protocol sets this bit on events that another client sent with SendEvent.
constexpr std::uint8_t kSentEventBit = 0x80;

xcb_get_property_cookie_t ask(xcb_connection_t* connection, xcb_window_t window,
                              xcb_atom_t property, std::uint32_t units = kPropertyUnits) {
  return xcb_get_property(connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, units);
}

// One property value; empty when the window or the property is gone.
class Property {
 public:
  Property(xcb_connection_t* connection, xcb_get_property_cookie_t cookie)
      : reply_(xcb_get_property_reply(connection, cookie, nullptr)) {}

  xcb_atom_t type() const { return reply_ ? reply_->type : xcb_atom_t{XCB_ATOM_NONE}; }

  // The bytes of an 8-bit value, up to the first NUL some clients append.
  std::string_view text() const {
    if (!reply_ || reply_->format != 8) return {};
    const std::string_view all = bytes();
    return all.substr(0, all.find('\0'));
  }
  std::string_view bytes() const {
    if (!reply_ || reply_->format != 8) return {};
    return {static_cast<const char*>(xcb_get_property_value(reply_.get())),
            static_cast<std::size_t>(xcb_get_property_value_length(reply_.get()))};
  }
  std::vector<std::uint32_t> words() const {
    if (!reply_ || reply_->format != 32) return {};
    const auto* first = static_cast<const std::uint32_t*>(xcb_get_property_value(reply_.get()));
    const auto count = static_cast<std::size_t>(xcb_get_property_value_length(reply_.get())) /
                       sizeof(std::uint32_t);
    return {first, first + count};
  }

 private:
  XcbOwned<xcb_get_property_reply_t> reply_;
};

// What a client calls its host in WM_CLIENT_MACHINE: the full or the short name.
bool onThisMachine(std::string_view machine, std::string_view host) {
  if (machine.empty() || host.empty() || machine == "localhost") return true;
  const auto shortName = [](std::string_view name) {
    return unicode::lowercase(name.substr(0, name.find('.')));
  };
  return shortName(machine) == shortName(host);
}

// A title or class name as long as any row can use it.
std::string bounded(std::string_view text) {
  return std::string(unicode::leadingCharacters(text, X11Text::kTitleCharacters));
}

std::string hostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

bool holds(const std::vector<std::uint32_t>& atoms, xcb_atom_t atom) {
  return std::find(atoms.begin(), atoms.end(), atom) != atoms.end();
}

struct ClientCookies {
  xcb_get_property_cookie_t pid, machine, netName, name, wmClass, type, state;
};

ClientCookies askClient(xcb_connection_t* connection, const xcb_ewmh_connection_t& ewmh,
                        xcb_window_t window) {
  return {ask(connection, window, ewmh._NET_WM_PID),
          ask(connection, window, XCB_ATOM_WM_CLIENT_MACHINE),
          ask(connection, window, ewmh._NET_WM_NAME, kTitleUnits),
          ask(connection, window, XCB_ATOM_WM_NAME, kTitleUnits),
          ask(connection, window, XCB_ATOM_WM_CLASS),
          ask(connection, window, ewmh._NET_WM_WINDOW_TYPE),
          ask(connection, window, ewmh._NET_WM_STATE)};
}

// What readClient needs to know besides the replies.
struct Reading {
  const xcb_ewmh_connection_t& ewmh;
  xcb_atom_t compoundText;
  std::string_view host;
};

// WM_NAME's type says how its bytes are encoded; _NET_WM_NAME is always UTF-8.
std::string title(const Property& netName, const Property& name, xcb_atom_t compoundText) {
  using X11Text::Encoding;
  if (!netName.text().empty()) return X11Text::decode(netName.text(), Encoding::utf8);
  const Encoding encoding = name.type() == XCB_ATOM_STRING ? Encoding::latin1
                            : name.type() == compoundText  ? Encoding::compoundText
                                                           : Encoding::utf8;
  return X11Text::decode(name.text(), encoding);
}

void readClient(xcb_connection_t* connection, const Reading& reading, const ClientCookies& cookies,
                X11Desktop::Client& client) {
  using X11Text::Encoding;
  const xcb_ewmh_connection_t& ewmh = reading.ewmh;
  const std::vector<std::uint32_t> pid = Property(connection, cookies.pid).words();
  const Property machine(connection, cookies.machine);
  // A process id from another host names nothing here, or the wrong process.
  client.pid = pid.empty() || !onThisMachine(machine.text(), reading.host)
                   ? 0
                   : static_cast<int>(pid.front());

  const Property netName(connection, cookies.netName);
  const Property name(connection, cookies.name);
  client.title = bounded(title(netName, name, reading.compoundText));

  // WM_CLASS is "instance\0Class\0", both Latin-1; an application name comes from them, so
  // they are bounded like a title.
  const Property wmClassProperty(connection, cookies.wmClass);
  const std::string_view wmClass = wmClassProperty.bytes();
  const std::size_t split = std::min(wmClass.find('\0'), wmClass.size());
  client.instance = bounded(X11Text::decode(wmClass.substr(0, split), Encoding::latin1));
  const std::string_view rest = split < wmClass.size() ? wmClass.substr(split + 1) : "";
  client.windowClass = bounded(X11Text::decode(rest.substr(0, rest.find('\0')), Encoding::latin1));
  client.application = X11Desktop::applicationKey(client);

  const std::vector<std::uint32_t> types = Property(connection, cookies.type).words();
  const std::vector<std::uint32_t> states = Property(connection, cookies.state).words();
  client.normal = (types.empty() || holds(types, ewmh._NET_WM_WINDOW_TYPE_NORMAL)) &&
                  !holds(states, ewmh._NET_WM_STATE_SKIP_TASKBAR);
}

std::vector<xcb_window_t> windowList(xcb_ewmh_connection_t* ewmh,
                                     xcb_get_property_cookie_t cookie) {
  xcb_ewmh_get_windows_reply_t reply;
  if (!xcb_ewmh_get_windows_reply(ewmh, cookie, &reply, nullptr)) return {};
  std::vector<xcb_window_t> windows(reply.windows, reply.windows + reply.windows_len);
  xcb_ewmh_get_windows_reply_wipe(&reply);
  return windows;
}

}  // namespace

struct X11Desktop::Changes {
  bool clientList = false;
  bool stacking = false;
  bool active = false;
  bool windowManager = false;
  std::set<xcb_window_t> clients;  // whose properties changed
};

const X11Desktop::Client* X11Desktop::Snapshot::find(xcb_window_t window) const {
  for (const Client& client : clients) {
    if (client.id == window) return &client;
  }
  return nullptr;
}

std::vector<X11Desktop::Client> X11Desktop::Snapshot::clientsOf(int application) const {
  std::vector<Client> result;
  for (const Client& client : clients) {
    if (client.application == application) result.push_back(client);
  }
  // A window the stacking list does not name yet counts as the lowest.
  const auto height = [this](xcb_window_t window) {
    const auto found = std::find(stacking.begin(), stacking.end(), window);
    return found == stacking.end() ? -1 : found - stacking.begin();
  };
  std::stable_sort(result.begin(), result.end(), [&](const Client& one, const Client& other) {
    return height(one.id) > height(other.id);
  });
  return result;
}

std::optional<xcb_window_t> X11Desktop::Snapshot::latestOf(int application, bool normalOnly) const {
  const std::vector<Client> candidates = clientsOf(application);
  const Client* latest = nullptr;
  for (const Client& client : candidates) {
    if (normalOnly && !client.normal) continue;
    if (client.id == active) return client.id;
    if (!latest || client.activation > latest->activation) latest = &client;
  }
  if (!latest) return std::nullopt;
  return latest->id;
}

int X11Desktop::applicationKey(const Client& client) {
  if (client.pid > 0) return client.pid;
  // A window without a class is an application of its own.
  return ApplicationCatalog::nameKey(!client.windowClass.empty() ? client.windowClass
                                     : !client.instance.empty()  ? client.instance
                                                                 : "#" + std::to_string(client.id));
}

X11Desktop::X11Desktop(const std::optional<std::string>& display)
    : published_(std::make_shared<const Snapshot>()) {
  if (display && display->empty()) return;
  xcb_connection_t* connection = xcb_connect(display ? display->c_str() : nullptr, &screenNumber_);
  if (xcb_connection_has_error(connection)) {
    xcb_disconnect(connection);
    return;
  }
  auto ewmh = std::make_unique<xcb_ewmh_connection_t>();
  if (!xcb_ewmh_init_atoms_replies(ewmh.get(), xcb_ewmh_init_atoms(connection, ewmh.get()),
                                   nullptr) ||
      screenNumber_ < 0 || screenNumber_ >= ewmh->nb_screens) {
    xcb_disconnect(connection);
    return;
  }
  connection_ = connection;
  ewmh_ = std::move(ewmh);
  root_ = ewmh_->screens[screenNumber_]->root;
  host_ = hostName();
  const XcbOwned<xcb_intern_atom_reply_t> compoundText(xcb_intern_atom_reply(
      connection_, xcb_intern_atom(connection_, 0, kCompoundText.size(), kCompoundText.data()),
      nullptr));
  if (compoundText) compoundText_ = compoundText->atom;

  // Selected before the first read, so no change between the read and the first event is lost.
  const std::uint32_t rootMask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &rootMask);
  Changes everything;
  everything.clientList = everything.stacking = everything.active = everything.windowManager = true;
  apply(everything);

  QCoreApplication* application = QCoreApplication::instance();
  if (application && QThread::currentThread() == application->thread()) {
    notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection_),
                                                  QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { drain(true); });
    // A reply we waited for may have brought events along into xcb's queue, where the
    // socket notifier cannot see them; they are taken before the loop goes to sleep.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
      QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, notifier_.get(),
                       [this] { drain(false); });
    }
    // A loop that only ever polls (a command line waiting for results) never blocks, so the
    // queue is also looked at on a slow timer; looking costs no request to the server.
    auto* sweep = new QTimer(notifier_.get());
    QObject::connect(sweep, &QTimer::timeout, notifier_.get(), [this] { drain(false); });
    sweep->start(kQueueSweepMs);
  }
}

X11Desktop::~X11Desktop() {
  notifier_.reset();
  if (ewmh_) xcb_ewmh_connection_wipe(ewmh_.get());
  if (connection_) xcb_disconnect(connection_);
}

std::shared_ptr<const X11Desktop::Snapshot> X11Desktop::snapshot() const {
  const std::lock_guard lock(mutex_);
  return published_;
}

void X11Desktop::flush() const {
  if (connection_) xcb_flush(connection_);
}

void X11Desktop::activate(xcb_window_t window) const {
  if (!connection_) return;
  xcb_ewmh_request_change_active_window(ewmh_.get(), screenNumber_, window,
                                        XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, XCB_CURRENT_TIME,
                                        XCB_WINDOW_NONE);
  xcb_flush(connection_);
}

void X11Desktop::update() { drain(true); }

void X11Desktop::drain(bool readSocket) {
  if (!connection_ || lost_) return;
  for (;;) {
    Changes changes;
    bool any = false;
    while (XcbOwned<xcb_generic_event_t> event{
        readSocket ? xcb_poll_for_event(connection_) : xcb_poll_for_queued_event(connection_)}) {
      any = true;
      const std::uint8_t type = event->response_type & ~kSentEventBit;
      if (type == XCB_PROPERTY_NOTIFY) {
        const auto& notify = *reinterpret_cast<const xcb_property_notify_event_t*>(event.get());
        if (notify.window == root_) {
          changes.clientList |= notify.atom == ewmh_->_NET_CLIENT_LIST;
          changes.stacking |= notify.atom == ewmh_->_NET_CLIENT_LIST_STACKING;
          changes.active |= notify.atom == ewmh_->_NET_ACTIVE_WINDOW;
          changes.windowManager |= notify.atom == ewmh_->_NET_SUPPORTING_WM_CHECK;
        } else if (notify.atom == ewmh_->_NET_WM_PID || notify.atom == ewmh_->_NET_WM_NAME ||
                   notify.atom == XCB_ATOM_WM_NAME || notify.atom == XCB_ATOM_WM_CLASS ||
                   notify.atom == XCB_ATOM_WM_CLIENT_MACHINE ||
                   notify.atom == ewmh_->_NET_WM_WINDOW_TYPE ||
                   notify.atom == ewmh_->_NET_WM_STATE) {
          changes.clients.insert(notify.window);
        }
      } else if (type == XCB_DESTROY_NOTIFY) {
        const auto& destroy = *reinterpret_cast<const xcb_destroy_notify_event_t*>(event.get());
        changes.windowManager |= destroy.window == windowManagerCheck_;
      }
      // Errors of requests on windows that vanished meanwhile (response type 0) need nothing:
      // the next client list leaves those windows out.
    }
    if (xcb_connection_has_error(connection_)) {
      disconnect();
      return;
    }
    if (!any) return;
    apply(changes);
  }
}

void X11Desktop::apply(const Changes& changes) {
  xcb_ewmh_connection_t* ewmh = ewmh_.get();
  std::optional<xcb_get_property_cookie_t> list, stacking, active;
  if (changes.clientList) list = xcb_ewmh_get_client_list(ewmh, screenNumber_);
  if (changes.stacking) stacking = xcb_ewmh_get_client_list_stacking(ewmh, screenNumber_);
  if (changes.active) active = xcb_ewmh_get_active_window(ewmh, screenNumber_);

  std::vector<xcb_window_t> toRead;
  if (list) {
    std::vector<Client> clients;
    for (const xcb_window_t window : windowList(ewmh, *list)) {
      if (const Client* known = state_.find(window)) {
        clients.push_back(*known);
        continue;
      }
      // Selected before its properties are read, so a change in between still arrives.
      const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
      xcb_change_window_attributes(connection_, window, XCB_CW_EVENT_MASK, &mask);
      Client client;
      client.id = window;
      clients.push_back(client);
      toRead.push_back(window);
    }
    state_.clients = std::move(clients);
  }
  if (stacking) state_.stacking = windowList(ewmh, *stacking);
  if (active) {
    xcb_window_t window = XCB_WINDOW_NONE;
    if (!xcb_ewmh_get_active_window_reply(ewmh, *active, &window, nullptr)) {
      window = XCB_WINDOW_NONE;
    }
    if (window != state_.active && window != XCB_WINDOW_NONE) {
      lastActive_[window] = ++activations_;
    }
    state_.active = window;
  }

  for (const xcb_window_t window : changes.clients) {
    if (state_.find(window) && std::find(toRead.begin(), toRead.end(), window) == toRead.end()) {
      toRead.push_back(window);
    }
  }
  std::vector<ClientCookies> cookies;
  cookies.reserve(toRead.size());
  for (const xcb_window_t window : toRead) cookies.push_back(askClient(connection_, *ewmh, window));
  const Reading reading{*ewmh, compoundText_, host_};
  for (std::size_t index = 0; index < toRead.size(); ++index) {
    for (Client& client : state_.clients) {
      if (client.id == toRead[index]) readClient(connection_, reading, cookies[index], client);
    }
  }

  if (changes.windowManager) state_.windowManager = checkWindowManager();

  std::erase_if(lastActive_, [this](const auto& entry) { return !state_.find(entry.first); });
  for (Client& client : state_.clients) {
    const auto found = lastActive_.find(client.id);
    client.activation = found == lastActive_.end() ? 0 : found->second;
  }
  publish();
}

bool X11Desktop::checkWindowManager() {
  xcb_ewmh_connection_t* ewmh = ewmh_.get();
  xcb_window_t check = XCB_WINDOW_NONE;
  if (!xcb_ewmh_get_supporting_wm_check_reply(ewmh, xcb_ewmh_get_supporting_wm_check(ewmh, root_),
                                              &check, nullptr)) {
    check = XCB_WINDOW_NONE;
  }
  if (check != XCB_WINDOW_NONE && check != windowManagerCheck_) {
    // Its destruction tells that the window manager ended, which no root property shows.
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, check, XCB_CW_EVENT_MASK, &mask);
  }
  // A stale property left by a window manager that died names a window that is gone or
  // no longer points to itself.
  xcb_window_t self = XCB_WINDOW_NONE;
  const bool running = check != XCB_WINDOW_NONE &&
                       xcb_ewmh_get_supporting_wm_check_reply(
                           ewmh, xcb_ewmh_get_supporting_wm_check(ewmh, check), &self, nullptr) &&
                       self == check;
  windowManagerCheck_ = running ? check : xcb_window_t{XCB_WINDOW_NONE};
  return running;
}

void X11Desktop::publish() {
  auto copy = std::make_shared<const Snapshot>(state_);
  const std::lock_guard lock(mutex_);
  published_ = std::move(copy);
}

void X11Desktop::disconnect() {
  // The server is gone: its windows with it, and the broken socket would wake us forever.
  if (notifier_) notifier_->setEnabled(false);
  lost_ = true;
  state_ = {};
  lastActive_.clear();
  windowManagerCheck_ = XCB_WINDOW_NONE;
  publish();
}

}  // namespace varek
