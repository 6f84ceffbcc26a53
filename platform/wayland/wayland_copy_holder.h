// Keeps one text as the Wayland clipboard for a process that exists only for that: the copy
// a command-line run made, which must outlive the run. Data control sets the selection
// without a window or focus, so no toolkit is loaded for it.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace varek {

enum class CopyHoldEnd {
  refused,    // no compositor with data control, or it did not take the copy
  replaced,   // another program copied something
  expired,    // the time given ran out
  lost,       // the compositor went away or ended data control
  abandoned,  // the one waiting for the copy to be held gave up
};

// Makes `text` the selection on a connection of its own (WAYLAND_DISPLAY), calls `held`
// once the compositor has taken it, and serves it to readers until another copy replaces
// it or `limit` has passed. A `held` that returns false ends the hold at once. A reader
// still being served when the hold ends gets the rest of the text first, within the
// pasteboard's serving time.
CopyHoldEnd holdWaylandCopy(const std::string& text, std::chrono::milliseconds limit,
                            const std::function<bool()>& held);

}  // namespace varek
