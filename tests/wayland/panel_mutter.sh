#!/usr/bin/env bash
# The launcher on GNOME's Wayland session, end to end: it starts knowing the desktop; the
# hotkey's command maps the panel as a window of its own, handing GNOME's activation token
# to the compositor; the windows mode says why GNOME lists none, the clipboard mode when it
# records; a text another program copied meanwhile is recorded once the panel has the
# focus, and the launcher's own copy is not.
#   panel_mutter.sh VAREK_BINARY CLIPBOARD_OWNER_BINARY   (inside scripts/with-mutter)
set -uo pipefail
varek="$1" owner_binary="$2"
fixture="$(mktemp -d)"
launcher="" owner=""
trap 'kill $launcher $owner 2>/dev/null; rm -rf "$fixture"' EXIT
export XDG_DATA_DIRS="$fixture" VAREK_TIMINGS=1
log="$XDG_STATE_HOME/Varek/Varek.log"
source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
until_true() {  # until_true COMMAND…: at most 10 s
  for _ in $(seq 200); do "$@" && return 0; sleep 0.05; done
  return 1
}

# The protocol log shows what the launcher hands to the compositor.
WAYLAND_DEBUG=client "$varek" >/dev/null 2>"$fixture/wayland.log" &
launcher=$!
until_true sh -c "grep -q 'gestartet' '$log' 2>/dev/null"
require_running "$launcher" "$fixture/wayland.log"
check "started knowing the session" "$(grep 'gestartet' "$log")" 'Sitzung wayland, Desktop GNOME'

XDG_ACTIVATION_TOKEN="gnome-shell/Varek/1-0-host_TIME7" "$varek" signal toggle
until_true sh -c "grep -q 'geöffnet in' '$log'"
check "the hotkey's command shows the panel" "$(grep -c 'geöffnet in' "$log")" '^1$'
check "with the focus GNOME gave the command" "$(grep -c 'activate("gnome-shell/Varek/1-0-host_TIME7"' \
  "$fixture/wayland.log")" '^1$'

check "no window list, and why" "$("$varek" query --mode windows --json "")" \
  '"subtitle":"GNOME erlaubt Programmen keine Fensterliste","title":"Fenster nicht erreichbar"'
check "the clipboard says when it records" "$("$varek" query --mode clipboard --json "")" \
  'Kopiertes erscheint ab dem nächsten Öffnen'

# Copied by another program while the panel is hidden; recorded once the panel is focused.
"$varek" signal toggle
"$owner_binary" "Kopie aus GNOME" >"$fixture/owner.out" 2>&1 &
owner=$!
until_true grep -q kopiert "$fixture/owner.out"
history() { "$varek" query --mode clipboard --json ""; }
sleep 1  # a few polls of the history
check "not seen while hidden" "$(history | grep -c 'Kopie aus GNOME')" '^0$'
"$varek" signal toggle
until_true sh -c "$(declare -f history); varek='$varek'; history | grep -q 'Kopie aus GNOME'"
check "recorded once the panel has the focus" "$(history | head -n 1)" '"title":"Kopie aus GNOME"'
# The launcher's own copy comes back to it at each focus: it is not recorded as a new one.
# (The seat has a keyboard only while the other program runs.)
"$varek" signal copy "Eigene Kopie"
"$varek" signal toggle
"$varek" signal toggle
until_true sh -c "grep -c 'geöffnet in' '$log' | grep -q '^3$'"
sleep 1  # a few polls of the history
check "its own copy is not recorded" "$(history | grep -c 'Eigene Kopie')" '^0$'

finish
