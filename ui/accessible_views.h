// What screen readers see of the panel. Qt describes ordinary widgets itself, but the
// result rows and the mode tabs are painted by hand, so they get interfaces here: the list
// with one item per row (the title as its name; the subtitle, or the request for a second
// Return, and the kind as its description), and the tabs as a tab list whose current mode
// is selected. The root view reports its changes through the calls below.
#pragma once

namespace varek {

class RootView;

namespace accessibility {

// Lets Qt build these interfaces for every root view; calling it again does nothing.
void install();
// The rows were replaced, or the selection moved. A newly selected row is announced as
// selected and focused: the keyboard stays in the search field, so the list's active
// descendant is what a screen reader follows.
void rowsChanged(RootView& view);
void selectionChanged(RootView& view);
// A row began or stopped asking for a second Return.
void confirmationChanged(RootView& view);
void modeChanged(RootView& view);

}  // namespace accessibility
}  // namespace varek
