#include "platform/wayland/wayland_pasteboard.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <thread>

#include "search/unicode.h"
#include "wlr-data-control-unstable-v1-client.h"

namespace varek {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::string_view kUriList = "text/uri-list";
constexpr std::string_view kLatin1 = "STRING";
// The text types in the order they are asked for: UTF-8 first; STRING is ISO 8859-1; a bare
// "text/plain" and TEXT are taken as UTF-8, as toolkits send them today.
constexpr std::string_view kTextTypes[] = {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain",
                                           kLatin1, "TEXT"};
// What our own copies offer: the same names, so every toolkit finds one it asks for.
constexpr std::string_view kOwnTypes[] = {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING",
                                          kLatin1, "TEXT"};
// Offers announced but never made a selection pile up only with a faulty compositor.
constexpr std::size_t kMaxAnnounced = 16;
// Readers of our own copy served at once; one more gets a closed pipe at once, so a client
// that asks again and again cannot make threads without end.
constexpr int kMaxWriters = 8;

bool sameType(std::string_view left, std::string_view right) {
  return left.size() == right.size() && ::strncasecmp(left.data(), right.data(), left.size()) == 0;
}

std::string latin1(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (const char byte : bytes) unicode::appendUtf8(text, static_cast<unsigned char>(byte));
  return text;
}

// Writes the whole text to a reader of our copy, within kServeTime, away from the main
// thread: a reader that stops reading must not hold the event loop. A reader that closes
// its end early gets EPIPE here rather than a SIGPIPE that would end the process.
// `writers` counts the threads at work; they may outlive the pasteboard that started them.
void serve(std::shared_ptr<const std::string> text, int fd,
           std::shared_ptr<std::atomic<int>> writers) {
  if (writers->fetch_add(1) >= kMaxWriters) {
    writers->fetch_sub(1);
    ::close(fd);
    return;
  }
  std::thread([text = std::move(text), fd, writers = std::move(writers)] {
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const auto deadline = SteadyClock::now() + WaylandPasteboard::kServeTime;
    std::size_t written = 0;
    while (written < text->size()) {
      const ssize_t count = ::write(fd, text->data() + written, text->size() - written);
      if (count > 0) {
        written += static_cast<std::size_t>(count);
        continue;
      }
      if (count < 0 && errno == EINTR) continue;
      if (count < 0 && errno != EAGAIN) break;
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
      if (left <= 0) break;
      pollfd pipe{.fd = fd, .events = POLLOUT, .revents = 0};
      ::poll(&pipe, 1, static_cast<int>(left));
    }
    ::close(fd);
    // A SIGPIPE raised above is pending on this thread alone; taken here, it never fires.
    const timespec now{};
    while (sigtimedwait(&pipeSignal, nullptr, &now) == SIGPIPE) {
    }
    writers->fetch_sub(1);
  }).detach();
}

}  // namespace

struct WaylandPasteboard::Offer {
  zwlr_data_control_offer_v1* proxy = nullptr;
  std::vector<std::string> types;
  bool malformed = false;  // more types than anyone offers in earnest
  ~Offer() { zwlr_data_control_offer_v1_destroy(proxy); }
  bool offers(std::string_view type) const {
    return std::any_of(types.begin(), types.end(),
                       [&](const std::string& offered) { return sameType(offered, type); });
  }
};

struct WaylandPasteboard::OwnCopy {
  WaylandPasteboard* owner = nullptr;
  zwlr_data_control_source_v1* source = nullptr;
  std::shared_ptr<const std::string> text;
  ~OwnCopy() { zwlr_data_control_source_v1_destroy(source); }
};

WaylandPasteboard::WaylandPasteboard(WaylandConnection& connection, FileList decodeFiles)
    : connection_(connection), decodeFiles_(std::move(decodeFiles)) {
  using Capability = WaylandConnection::Capability;
  if (!connection.offers(Capability::dataControl) || !connection.offers(Capability::seat)) return;
  seat_ = static_cast<wl_seat*>(connection.bind(Capability::seat, &wl_seat_interface, 1));
  manager_ = static_cast<zwlr_data_control_manager_v1*>(
      connection.bind(Capability::dataControl, &zwlr_data_control_manager_v1_interface, 2));
  if (seat_ == nullptr || manager_ == nullptr) return;
  device_ = zwlr_data_control_manager_v1_get_data_device(manager_, seat_);
  static constexpr zwlr_data_control_device_v1_listener kListener = {
      .data_offer = dataOffer,
      .selection = selection,
      .finished = finished,
      .primary_selection = primarySelection,
  };
  zwlr_data_control_device_v1_add_listener(device_, &kListener, this);
  // The compositor tells the current selection at once; it is there when this returns.
  connection.roundtrip(kAnswerTime);
}

WaylandPasteboard::~WaylandPasteboard() {
  own_.reset();
  endDevice();
  if (manager_ != nullptr) zwlr_data_control_manager_v1_destroy(manager_);
  if (seat_ != nullptr) wl_seat_destroy(seat_);
  if (connection_.display() != nullptr) wl_display_flush(connection_.display());
}

bool WaylandPasteboard::available() const {
  return device_ != nullptr && connection_.state() == WaylandConnection::State::connected;
}

void WaylandPasteboard::dataOffer(void* data, zwlr_data_control_device_v1* /*device*/,
                                  zwlr_data_control_offer_v1* proxy) {
  auto& self = *static_cast<WaylandPasteboard*>(data);
  auto offer = std::make_unique<Offer>();
  offer->proxy = proxy;
  static constexpr zwlr_data_control_offer_v1_listener kListener = {.offer = offered};
  zwlr_data_control_offer_v1_add_listener(proxy, &kListener, offer.get());
  if (self.announced_.size() >= kMaxAnnounced) self.announced_.erase(self.announced_.begin());
  self.announced_.push_back(std::move(offer));
}

void WaylandPasteboard::offered(void* data, zwlr_data_control_offer_v1* /*proxy*/,
                                const char* offeredType) {
  auto& offer = *static_cast<Offer*>(data);
  if (offer.malformed) return;
  if (offer.types.size() >= kMaxTypes) {
    offer.malformed = true;
    offer.types.clear();
    return;
  }
  // Another program's bytes: whatever they are, the type is kept as valid UTF-8.
  std::string type = unicode::utf8(unicode::scalars(offeredType == nullptr ? "" : offeredType));
  if (std::find(offer.types.begin(), offer.types.end(), type) == offer.types.end())
    offer.types.push_back(std::move(type));
}

void WaylandPasteboard::selection(void* data, zwlr_data_control_device_v1* /*device*/,
                                  zwlr_data_control_offer_v1* proxy) {
  auto& self = *static_cast<WaylandPasteboard*>(data);
  self.current_ = self.take(proxy);
  // Offers announced before this one and never chosen are dead.
  self.announced_.clear();
  ++self.changeCount_;
}

void WaylandPasteboard::primarySelection(void* data, zwlr_data_control_device_v1* /*device*/,
                                         zwlr_data_control_offer_v1* proxy) {
  static_cast<WaylandPasteboard*>(data)->take(proxy);
}

void WaylandPasteboard::finished(void* data, zwlr_data_control_device_v1* /*device*/) {
  static_cast<WaylandPasteboard*>(data)->endDevice();
}

std::unique_ptr<WaylandPasteboard::Offer> WaylandPasteboard::take(
    zwlr_data_control_offer_v1* proxy) {
  if (proxy == nullptr) return nullptr;
  const auto found = std::find_if(announced_.begin(), announced_.end(),
                                  [&](const auto& offer) { return offer->proxy == proxy; });
  if (found == announced_.end()) return nullptr;
  std::unique_ptr<Offer> offer = std::move(*found);
  announced_.erase(found);
  return offer;
}

void WaylandPasteboard::endDevice() {
  own_.reset();
  current_.reset();
  announced_.clear();
  if (device_ != nullptr) zwlr_data_control_device_v1_destroy(device_);
  device_ = nullptr;
}

void WaylandPasteboard::send(void* data, zwlr_data_control_source_v1* /*source*/, const char* type,
                             int fd) {
  const auto& copy = *static_cast<OwnCopy*>(data);
  const bool ours =
      type != nullptr && std::any_of(std::begin(kOwnTypes), std::end(kOwnTypes),
                                     [&](std::string_view own) { return own == type; });
  if (!ours) {
    ::close(fd);
    return;
  }
  serve(copy.text, fd, copy.owner->writers_);
}

void WaylandPasteboard::cancelled(void* data, zwlr_data_control_source_v1* /*source*/) {
  // Someone else's copy took over: reads go to the compositor's offers again.
  auto& copy = *static_cast<OwnCopy*>(data);
  if (copy.owner->own_.get() == &copy) copy.owner->own_.reset();
}

void WaylandPasteboard::setText(const std::string& text) {
  if (!available() || manager_ == nullptr) return;
  auto copy = std::make_unique<OwnCopy>();
  copy->owner = this;
  copy->text = std::make_shared<const std::string>(text);
  copy->source = zwlr_data_control_manager_v1_create_data_source(manager_);
  static constexpr zwlr_data_control_source_v1_listener kListener = {.send = send,
                                                                     .cancelled = cancelled};
  zwlr_data_control_source_v1_add_listener(copy->source, &kListener, copy.get());
  for (const std::string_view type : kOwnTypes)
    zwlr_data_control_source_v1_offer(copy->source, std::string(type).c_str());
  zwlr_data_control_device_v1_set_selection(device_, copy->source);
  // The source it replaces is no longer the selection once the request above is handled,
  // so destroying it (after) clears nothing.
  own_ = std::move(copy);
  ++changeCount_;
  connection_.update();
}

std::vector<std::string> WaylandPasteboard::types() const {
  if (!available()) return {};
  if (own_) return {std::begin(kOwnTypes), std::end(kOwnTypes)};
  if (!current_ || current_->malformed) return {};
  return current_->types;
}

std::vector<std::string> WaylandPasteboard::filePaths() const {
  const std::optional<Snapshot> content = snapshot([](std::string_view) { return false; });
  return content ? content->filePaths : std::vector<std::string>{};
}

std::optional<std::string> WaylandPasteboard::text() const {
  const std::optional<Snapshot> content = snapshot([](std::string_view) { return false; });
  return content ? content->text : std::nullopt;
}

std::optional<Pasteboard::Snapshot> WaylandPasteboard::snapshot(const Withholds& withholds) const {
  if (!available()) return Snapshot{};
  // Our own offer cannot be read here: its answer would wait for this very thread.
  if (own_) return Snapshot{.types = types(), .filePaths = {}, .text = *own_->text};
  if (!current_) return Snapshot{};
  if (current_->malformed) return std::nullopt;

  Snapshot snapshot{.types = current_->types, .filePaths = {}, .text = std::nullopt};
  if (std::any_of(snapshot.types.begin(), snapshot.types.end(), withholds)) return snapshot;
  // Every new selection raises the count; the reads below belong to the offer of this one.
  const std::int64_t copy = changeCount_;
  const auto deadline = SteadyClock::now() + kAnswerTime;
  const auto sameCopy = [&] { return available() && changeCount_ == copy && !own_; };

  if (decodeFiles_ && current_->offers(kUriList)) {
    const std::optional<std::string> uriList = receive(std::string(kUriList), deadline);
    if (!uriList || !sameCopy()) return std::nullopt;
    snapshot.filePaths = decodeFiles_(*uriList);
    if (!snapshot.filePaths.empty()) return snapshot;
  }
  const auto* type = std::find_if(std::begin(kTextTypes), std::end(kTextTypes),
                                  [&](std::string_view text) { return current_->offers(text); });
  if (type == std::end(kTextTypes)) return snapshot;
  const std::optional<std::string> bytes = receive(std::string(*type), deadline);
  if (!bytes || !sameCopy()) return std::nullopt;
  // Bytes that are not text become U+FFFD, as everywhere else a copy is read.
  snapshot.text = *type == kLatin1 ? latin1(*bytes) : unicode::utf8(unicode::scalars(*bytes));
  return snapshot;
}

std::optional<std::string> WaylandPasteboard::receive(const std::string& type,
                                                      SteadyClock::time_point deadline) const {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
  // Only our end waits for nobody: the owner may write its end as it likes.
  ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
  zwlr_data_control_offer_v1_receive(current_->proxy, type.c_str(), ends[1]);
  // The request carries a duplicate; ours must go, or the end of the copy never shows.
  ::close(ends[1]);
  const std::int64_t copy = changeCount_;
  std::string bytes;
  std::optional<std::string> result;
  char chunk[65536];
  // The current offer may be replaced by the events handled below; it is not touched again.
  while (connection_.update() == WaylandConnection::State::connected && available() &&
         changeCount_ == copy) {
    const ssize_t count = ::read(ends[0], chunk, sizeof chunk);
    if (count > 0) {
      if (bytes.size() + static_cast<std::size_t>(count) > kMaxBytes) break;
      bytes.append(chunk, static_cast<std::size_t>(count));
      continue;
    }
    if (count == 0) {
      result = std::move(bytes);
      break;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) break;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    if (left <= 0) break;
    pollfd watched[] = {{.fd = ends[0], .events = POLLIN, .revents = 0},
                        {.fd = connection_.fd(), .events = POLLIN, .revents = 0}};
    ::poll(watched, 2, static_cast<int>(left));
  }
  ::close(ends[0]);
  return result;
}

}  // namespace varek
