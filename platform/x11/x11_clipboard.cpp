#include "platform/x11/x11_clipboard.h"

#include <poll.h>
#include <xcb/xfixes.h>

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <algorithm>
#include <cstring>
#include <vector>

namespace varek {
namespace {

using SteadyClock = std::chrono::steady_clock;

// An owner offering more types than this is not believed: a marker could hide among them.
constexpr std::size_t kMaxTypes = 1024;
// The X protocol sets this bit on events that another client sent with SendEvent.
constexpr std::uint8_t kSentEventBit = 0x80;
// Every way the selection can change hands: a new owner, or the owner's window or
// connection going away.
constexpr std::uint32_t kOwnerChanges = XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                        XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                        XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE;

std::uint8_t eventType(const xcb_generic_event_t& event) {
  return event.response_type & static_cast<std::uint8_t>(~kSentEventBit);
}

// Qt lists the legacy text targets as "text/plain"; so does this reader, so the types of a
// copy read the same whichever way they were read.
std::string typeOf(std::string_view target) {
  if (target == "UTF8_STRING" || target == "STRING" || target == "TEXT") return "text/plain";
  return std::string(target);
}

}  // namespace

X11Clipboard::X11Clipboard(xcb_connection_t* ownConnection) {
  if (ownConnection != nullptr) {
    const xcb_setup_t* setup = xcb_get_setup(ownConnection);
    ownBase_ = setup->resource_id_base;
    ownMask_ = setup->resource_id_mask;
  }
  int screenNumber = 0;
  xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
  if (xcb_connection_has_error(connection)) {
    xcb_disconnect(connection);
    return;
  }
  const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(connection, &xcb_xfixes_id);
  const XcbOwned<xcb_xfixes_query_version_reply_t> version(xcb_xfixes_query_version_reply(
      connection,
      xcb_xfixes_query_version(connection, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
      nullptr));
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int skipped = 0; skipped < screenNumber && screens.rem > 0; ++skipped)
    xcb_screen_next(&screens);
  if (xfixes == nullptr || !xfixes->present || !version || screens.rem == 0) {
    xcb_disconnect(connection);
    return;
  }
  ownerChangeEvent_ = xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY;
  root_ = screens.data->root;

  const std::vector<std::string_view> names{
      "CLIPBOARD",  "TARGETS",       "INCR",           "UTF8_STRING", "text/plain;charset=utf-8",
      "text/plain", "text/uri-list", "VAREK_CLIPBOARD"};
  std::vector<xcb_intern_atom_cookie_t> cookies;
  for (const std::string_view name : names)
    cookies.push_back(xcb_intern_atom(connection, 0, name.size(), name.data()));
  std::vector<xcb_atom_t> atoms;
  for (const xcb_intern_atom_cookie_t cookie : cookies) {
    const XcbOwned<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr));
    atoms.push_back(reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE});
  }
  if (std::count(atoms.begin(), atoms.end(), xcb_atom_t{XCB_ATOM_NONE}) > 0) {
    xcb_disconnect(connection);
    return;
  }
  atoms_ = {.clipboard = atoms[0],
            .targets = atoms[1],
            .incr = atoms[2],
            .utf8String = atoms[3],
            .plainUtf8 = atoms[4],
            .plain = atoms[5],
            .uriList = atoms[6],
            .property = atoms[7]};
  connection_ = connection;
  renewWindow();
}

X11Clipboard::~X11Clipboard() {
  if (connection_ != nullptr) xcb_disconnect(connection_);
}

std::vector<std::string> X11Clipboard::localFiles(std::string_view uriList) {
  std::vector<std::string> paths;
  const QByteArray list(uriList.data(), static_cast<qsizetype>(uriList.size()));
  for (const QByteArray& line : list.split('\n')) {
    const QByteArray uri = line.trimmed();
    if (uri.isEmpty() || uri.startsWith('#')) continue;
    const QUrl url = QUrl::fromEncoded(uri);
    if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
  }
  return paths;
}

bool X11Clipboard::isSelectionTarget(std::string_view target) {
  if (target.empty()) return false;
  return std::all_of(target.begin(), target.end(), [](char character) {
    return (character >= 'A' && character <= 'Z') || (character >= '0' && character <= '9') ||
           character == '_';
  });
}

std::optional<Pasteboard::Snapshot> X11Clipboard::snapshot(
    const Pasteboard::Withholds& withholds,
    const std::function<std::optional<Pasteboard::Snapshot>()>& readOwn) {
  if (connection_ == nullptr) return std::nullopt;
  const Deadline deadline = SteadyClock::now() + kAnswerTime;
  // Selected before the owner is asked, so every change after the answer is told of.
  xcb_xfixes_select_selection_input(connection_, window_, atoms_.clipboard, kOwnerChanges);
  const xcb_get_selection_owner_cookie_t asked =
      xcb_get_selection_owner(connection_, atoms_.clipboard);
  watchedFrom_ = static_cast<std::uint16_t>(asked.sequence);
  ownerChanged_ = false;
  const std::optional<xcb_window_t> owner = ownerFrom(asked);

  std::optional<Pasteboard::Snapshot> content;
  if (owner == XCB_WINDOW_NONE) {
    content = Pasteboard::Snapshot{};
  } else if (owner && (*owner & ~ownMask_) == ownBase_) {
    content = readOwn();
  } else if (owner) {
    content = read(withholds, deadline);
  }
  // An owner answers only after it has taken the selection, so a new owner whose content
  // was read has told of itself by now; one that came later is caught by the owner check.
  bool whole =
      content && owner == ownerFrom(xcb_get_selection_owner(connection_, atoms_.clipboard));
  while (const XcbOwned<xcb_generic_event_t> event{xcb_poll_for_event(connection_)}) {
    if (isOwnerChange(*event)) whole = false;
  }
  whole = whole && !ownerChanged_;
  xcb_xfixes_select_selection_input(connection_, window_, atoms_.clipboard, 0);
  if (!whole) renewWindow();
  xcb_flush(connection_);
  return whole ? content : std::nullopt;
}

std::optional<Pasteboard::Snapshot> X11Clipboard::read(const Pasteboard::Withholds& withholds,
                                                       Deadline deadline) {
  const std::optional<Transfer> targetList = convert(atoms_.targets, deadline);
  if (!targetList || targetList->format != 32) return std::nullopt;
  std::vector<xcb_atom_t> targets(targetList->bytes.size() / sizeof(xcb_atom_t));
  if (targets.size() > kMaxTypes) return std::nullopt;
  std::memcpy(targets.data(), targetList->bytes.data(), targets.size() * sizeof(xcb_atom_t));

  std::vector<xcb_get_atom_name_cookie_t> cookies;
  for (const xcb_atom_t target : targets) cookies.push_back(xcb_get_atom_name(connection_, target));
  Pasteboard::Snapshot snapshot;
  for (const xcb_get_atom_name_cookie_t cookie : cookies) {
    // An atom without a name cannot be a marker; it is left out like any other non-type.
    const XcbOwned<xcb_get_atom_name_reply_t> reply(
        xcb_get_atom_name_reply(connection_, cookie, nullptr));
    if (!reply) continue;
    const std::string type = typeOf(std::string_view(xcb_get_atom_name_name(reply.get()),
                                                     xcb_get_atom_name_name_length(reply.get())));
    if (isSelectionTarget(type)) continue;
    if (std::find(snapshot.types.begin(), snapshot.types.end(), type) == snapshot.types.end())
      snapshot.types.push_back(type);
  }
  if (std::any_of(snapshot.types.begin(), snapshot.types.end(), withholds)) return snapshot;

  const auto offers = [&](xcb_atom_t target) {
    return std::find(targets.begin(), targets.end(), target) != targets.end();
  };
  if (offers(atoms_.uriList)) {
    const std::optional<Transfer> uriList = convert(atoms_.uriList, deadline);
    if (!uriList) return std::nullopt;
    snapshot.filePaths = localFiles(uriList->bytes);
  }
  if (!snapshot.filePaths.empty()) return snapshot;
  // UTF-8 first; STRING is ISO 8859-1; a bare "text/plain" is taken as the locale's UTF-8.
  for (const xcb_atom_t target :
       {atoms_.utf8String, atoms_.plainUtf8, xcb_atom_t{XCB_ATOM_STRING}, atoms_.plain}) {
    if (!offers(target)) continue;
    const std::optional<Transfer> text = convert(target, deadline);
    if (!text) return std::nullopt;
    const QByteArray bytes = QByteArray::fromStdString(text->bytes);
    // Bytes that are not text become U+FFFD, as everywhere else a copy is read.
    snapshot.text =
        (text->type == XCB_ATOM_STRING ? QString::fromLatin1(bytes) : QString::fromUtf8(bytes))
            .toStdString();
    break;
  }
  return snapshot;
}

std::optional<X11Clipboard::Transfer> X11Clipboard::convert(xcb_atom_t target, Deadline deadline) {
  xcb_convert_selection(connection_, window_, atoms_.clipboard, target, atoms_.property,
                        XCB_CURRENT_TIME);
  const XcbOwned<xcb_generic_event_t> answer =
      waitFor(deadline, [&](const xcb_generic_event_t& event) {
        if (eventType(event) != XCB_SELECTION_NOTIFY) return false;
        const auto& notify = reinterpret_cast<const xcb_selection_notify_event_t&>(event);
        return notify.requestor == window_ && notify.selection == atoms_.clipboard &&
               notify.target == target;
      });
  // No property: the owner refused, as it does for a target it no longer offers.
  if (!answer ||
      reinterpret_cast<const xcb_selection_notify_event_t&>(*answer).property == XCB_ATOM_NONE)
    return std::nullopt;
  std::optional<Transfer> first = takeProperty();
  if (!first || first->type != atoms_.incr) return first;

  // A large value comes in chunks, each after the one before was taken; an empty one ends it.
  Transfer whole;
  while (true) {
    const XcbOwned<xcb_generic_event_t> chunkReady =
        waitFor(deadline, [&](const xcb_generic_event_t& event) {
          if (eventType(event) != XCB_PROPERTY_NOTIFY) return false;
          const auto& change = reinterpret_cast<const xcb_property_notify_event_t&>(event);
          return change.window == window_ && change.atom == atoms_.property &&
                 change.state == XCB_PROPERTY_NEW_VALUE;
        });
    if (!chunkReady) return std::nullopt;
    std::optional<Transfer> chunk = takeProperty();
    if (!chunk || whole.bytes.size() + chunk->bytes.size() > kMaxBytes) return std::nullopt;
    if (chunk->bytes.empty()) return whole;
    whole.type = chunk->type;
    whole.format = chunk->format;
    whole.bytes += chunk->bytes;
  }
}

std::optional<X11Clipboard::Transfer> X11Clipboard::takeProperty() {
  // Taking the value deletes it, which is what asks an owner for its next chunk.
  const XcbOwned<xcb_get_property_reply_t> reply(
      xcb_get_property_reply(connection_,
                             xcb_get_property(connection_, 1, window_, atoms_.property,
                                              XCB_GET_PROPERTY_TYPE_ANY, 0, kMaxBytes / 4),
                             nullptr));
  if (!reply || reply->bytes_after > 0) return std::nullopt;
  const auto* value = static_cast<const char*>(xcb_get_property_value(reply.get()));
  return Transfer{.type = reply->type,
                  .format = reply->format,
                  .bytes = std::string(
                      value, static_cast<std::size_t>(xcb_get_property_value_length(reply.get())))};
}

std::optional<xcb_window_t> X11Clipboard::ownerFrom(xcb_get_selection_owner_cookie_t cookie) {
  const XcbOwned<xcb_get_selection_owner_reply_t> reply(
      xcb_get_selection_owner_reply(connection_, cookie, nullptr));
  if (!reply) return std::nullopt;
  return reply->owner;
}

XcbOwned<xcb_generic_event_t> X11Clipboard::waitFor(
    Deadline deadline, const std::function<bool(const xcb_generic_event_t&)>& wanted) {
  xcb_flush(connection_);
  while (!xcb_connection_has_error(connection_)) {
    while (XcbOwned<xcb_generic_event_t> event{xcb_poll_for_event(connection_)}) {
      if (isOwnerChange(*event)) {
        ownerChanged_ = true;
        return nullptr;
      }
      if (wanted(*event)) return event;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    if (left <= 0) return nullptr;
    pollfd socket{.fd = xcb_get_file_descriptor(connection_), .events = POLLIN, .revents = 0};
    ::poll(&socket, 1, static_cast<int>(left));
  }
  return nullptr;
}

bool X11Clipboard::isOwnerChange(const xcb_generic_event_t& event) const {
  if (event.response_type != ownerChangeEvent_) return false;
  const auto& notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t&>(event);
  // An event carries the sequence number of the last request the server had handled, so
  // one from before the owner was asked tells of a change the change count already rose
  // for. It may still be queued behind the answer, and must not be taken for a new one.
  const auto since =
      static_cast<std::int16_t>(static_cast<std::uint16_t>(notify.sequence - watchedFrom_));
  return notify.selection == atoms_.clipboard && since >= 0;
}

void X11Clipboard::renewWindow() {
  if (window_ != XCB_WINDOW_NONE) xcb_destroy_window(connection_, window_);
  window_ = xcb_generate_id(connection_);
  const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_create_window(connection_, 0, window_, root_, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                    XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
  xcb_flush(connection_);
}

}  // namespace varek
