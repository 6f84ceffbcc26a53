// Reads the X11 CLIPBOARD selection whole from one owner. Its types, file list and text are
// separate conversions that the owner answers one by one, and it may take a new copy
// between two of them: a password manager marks every second copy as secret. So the reader
// watches the selection (XFixes) on a connection of its own from before the first request
// to after the last, and gives nothing rather than the parts of two copies.
#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/pasteboard.h"
#include "platform/x11/x11_desktop.h"

namespace varek {

class X11Clipboard {
 public:
  // A live owner answers within milliseconds. One that takes longer would freeze the panel,
  // so its copy is missed rather than waited for.
  static constexpr std::chrono::milliseconds kAnswerTime{1000};
  // The most bytes one part of a copy may have. The longest text the history keeps, 99,999
  // characters, fits many times over even as emoji sequences; a larger copy is not read on,
  // so a huge transfer cannot hold the main thread.
  static constexpr std::uint32_t kMaxBytes = 8u << 20;

  // Connects to $DISPLAY. `ownConnection` is the one through which this process itself
  // owns the clipboard (Qt's): those copies are read through `readOwn` in snapshot(), since
  // a process cannot answer a request while it waits for the answer.
  explicit X11Clipboard(xcb_connection_t* ownConnection);
  ~X11Clipboard();
  X11Clipboard(const X11Clipboard&) = delete;
  X11Clipboard& operator=(const X11Clipboard&) = delete;

  // False without a display or without XFixes, the only way to hear of a new owner.
  bool connected() const { return connection_ != nullptr; }

  // The copy on the clipboard now, as Pasteboard::snapshot() promises it.
  std::optional<Pasteboard::Snapshot> snapshot(
      const Pasteboard::Withholds& withholds,
      const std::function<std::optional<Pasteboard::Snapshot>()>& readOwn);

  // The X11 plumbing among the targets an owner offers (TARGETS, MULTIPLE, TIMESTAMP,
  // SAVE_TARGETS, the legacy text names): no MIME type, spelled in capitals, whereas a
  // marker such as "x-kde-passwordManagerHint" is not.
  static bool isSelectionTarget(std::string_view target);
  // The local files of a text/uri-list, in order and percent-decoded; other addresses and
  // comment lines are left out. Shared with the clipboards of other sessions.
  static std::vector<std::string> localFiles(std::string_view uriList);

 private:
  using Deadline = std::chrono::steady_clock::time_point;
  struct Transfer {
    xcb_atom_t type = XCB_ATOM_NONE;
    std::uint8_t format = 0;
    std::string bytes;
  };
  struct Atoms {
    xcb_atom_t clipboard, targets, incr, utf8String, plainUtf8, plain, uriList, property;
  };

  std::optional<Pasteboard::Snapshot> read(const Pasteboard::Withholds& withholds,
                                           Deadline deadline);
  std::optional<Transfer> convert(xcb_atom_t target, Deadline deadline);
  std::optional<Transfer> takeProperty();
  std::optional<xcb_window_t> ownerFrom(xcb_get_selection_owner_cookie_t cookie);
  // The next event that `wanted` accepts; nothing once the deadline passed or the
  // clipboard changed hands.
  XcbOwned<xcb_generic_event_t> waitFor(
      Deadline deadline, const std::function<bool(const xcb_generic_event_t&)>& wanted);
  bool isOwnerChange(const xcb_generic_event_t& event) const;
  // A fresh window for the transfers, so a late answer to a request given up on reaches
  // none of the next ones.
  void renewWindow();

  xcb_connection_t* connection_ = nullptr;
  xcb_window_t root_ = XCB_WINDOW_NONE;
  xcb_window_t window_ = XCB_WINDOW_NONE;
  Atoms atoms_{};
  std::uint8_t ownerChangeEvent_ = 0;
  bool ownerChanged_ = false;
  std::uint16_t watchedFrom_ = 0;  // the sequence number from which changes count
  // The window ids of ownConnection are this base plus bits of this mask.
  std::uint32_t ownBase_ = 0;
  std::uint32_t ownMask_ = 0;
};

}  // namespace varek
