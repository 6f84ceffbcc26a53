// The general clipboard on a Wayland compositor through wlroots' data control protocol,
// which lets a client watch and set the selection without having focus. Each new selection
// comes as one offer with its own list of MIME types; a snapshot reads the types and the
// content from that one offer, so the markers of one copy never vouch for another's text.
// Plain C++ on the backend's own connection; the primary selection is left alone, since
// selecting text is not copying it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/pasteboard.h"
#include "platform/wayland/wayland_connection.h"

struct wl_seat;
struct zwlr_data_control_device_v1;
struct zwlr_data_control_manager_v1;
struct zwlr_data_control_offer_v1;
struct zwlr_data_control_source_v1;

namespace varek {

class WaylandPasteboard : public Pasteboard {
 public:
  // The most bytes a copy's text or file list may have, as on X11: a larger copy is
  // skipped, never cut, so a huge transfer cannot hold the main thread.
  static constexpr std::size_t kMaxBytes = std::size_t{8} << 20;
  // An offer with more types than this is not believed: a marker could hide among them.
  static constexpr std::size_t kMaxTypes = 1024;
  // A live owner answers within milliseconds; a copy that takes longer is missed.
  static constexpr std::chrono::milliseconds kAnswerTime{1000};
  // How long someone pasting our own copy may take to read it before it is given up.
  static constexpr std::chrono::milliseconds kServeTime{5000};

  // The local file paths of a text/uri-list, percent-decoded and in order.
  using FileList = std::function<std::vector<std::string>(std::string_view uriList)>;

  // Watches the clipboard of the connection's seat. Events arrive while the owner calls
  // connection.update(); the connection must outlive this. Without data control or a
  // seat, the clipboard reads as empty and never changes. Without `decodeFiles` a file
  // list is read as whatever text the copy offers beside it.
  WaylandPasteboard(WaylandConnection& connection, FileList decodeFiles);
  ~WaylandPasteboard() override;
  WaylandPasteboard(const WaylandPasteboard&) = delete;
  WaylandPasteboard& operator=(const WaylandPasteboard&) = delete;

  // False without data control, once the compositor ended it, or once the connection is lost.
  bool available() const;

  std::int64_t changeCount() const override { return changeCount_; }
  std::vector<std::string> types() const override;
  std::vector<std::string> filePaths() const override;
  std::optional<std::string> text() const override;
  // Reads the offer current when it is called, handling the connection's events (as
  // update() does) while it waits for the owner; nothing if a new selection came meanwhile,
  // the owner did not answer within kAnswerTime, or the copy is larger than kMaxBytes.
  std::optional<Snapshot> snapshot(const Withholds& withholds) const override;
  // Takes the selection with a source this object serves, so copying needs no focus.
  void setText(const std::string& text) override;
  // Whether a reader of our own copy is still being written to.
  bool serving() const { return writers_->load() > 0; }

 private:
  struct Offer;
  struct OwnCopy;

  static void dataOffer(void* data, zwlr_data_control_device_v1* device,
                        zwlr_data_control_offer_v1* offer);
  static void selection(void* data, zwlr_data_control_device_v1* device,
                        zwlr_data_control_offer_v1* offer);
  static void finished(void* data, zwlr_data_control_device_v1* device);
  static void primarySelection(void* data, zwlr_data_control_device_v1* device,
                               zwlr_data_control_offer_v1* offer);
  static void offered(void* data, zwlr_data_control_offer_v1* offer, const char* type);
  static void send(void* data, zwlr_data_control_source_v1* source, const char* type, int fd);
  static void cancelled(void* data, zwlr_data_control_source_v1* source);

  // The bytes of one type of the current offer, or nothing (see snapshot()).
  std::optional<std::string> receive(const std::string& type,
                                     std::chrono::steady_clock::time_point deadline) const;
  std::unique_ptr<Offer> take(zwlr_data_control_offer_v1* offer);
  void endDevice();

  WaylandConnection& connection_;
  FileList decodeFiles_;
  wl_seat* seat_ = nullptr;
  zwlr_data_control_manager_v1* manager_ = nullptr;
  zwlr_data_control_device_v1* device_ = nullptr;
  // Offers announced but not yet made the selection (or the primary selection).
  std::vector<std::unique_ptr<Offer>> announced_;
  std::unique_ptr<Offer> current_;
  std::unique_ptr<OwnCopy> own_;  // while our own source holds the selection
  std::int64_t changeCount_ = 0;
  // Threads writing our copy to readers, shared with them.
  std::shared_ptr<std::atomic<int>> writers_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace varek
