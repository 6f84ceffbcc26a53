// The benchmark's eyes on X11: keys go out through XTEST, and the DAMAGE extension reports
// each drawing into a watched window as it reaches the server. Needs no compositor.
#pragma once

#include <memory>

#include "bench/e2e/frame_watch.h"

namespace varek::e2e {

// A watch on the display of DISPLAY; nothing when the display or one of the extensions
// is missing.
std::unique_ptr<FrameWatch> connectX11FrameWatch();

}  // namespace varek::e2e
