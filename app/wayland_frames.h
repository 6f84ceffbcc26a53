// Qt 6.4's Wayland platform loads the whole OpenGL stack (Mesa with llvmpipe: over 40 MiB
// resident) as its first window shows, only to learn whether windows may draw frames of
// their own; the launcher draws with the CPU and never needs it. Where the compositor draws
// frames itself (xdg-decoration), none of our windows draws one, so that question is
// skipped.
#pragma once

namespace varek {

// Call after the application object exists and before the first window shows. Qt reads
// the setting once, as the first window shows; it leaves the environment right after, so
// that programs started from the launcher do not inherit it. Does nothing where the
// compositor leaves frames to the clients (GNOME) or none is connected.
void skipClientFramesWhereCompositorDrawsThem();

}  // namespace varek
