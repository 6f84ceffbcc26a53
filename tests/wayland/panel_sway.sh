#!/usr/bin/env bash
# The launcher on sway, end to end. Before it runs: a copy made by `varek run` is still the
# clipboard after the run, and its holder ends when another program copies; the screenshot
# row stores the whole screen in the pictures folder. Then: Alt+Space with text typed right
# after it in the same stream shows the panel floating and centred with the whole text in
# it, Return runs the row and sends the panel back to the scratchpad with the focus on the
# window before; the launcher ends, with a last log line and its stores intact, when sway
# goes away.
#   panel_sway.sh VAREK_BINARY SCREENSHOT_FILE   (inside scripts/with-sway)
set -uo pipefail
varek="$1" screenshot="$2"
fixture="$(mktemp -d)"
trap 'rm -rf "$fixture"' EXIT
mkdir -p "$fixture/applications" "$(dirname "$screenshot")"
cat >"$fixture/applications/sondenwerkzeug.desktop" <<ENTRY
[Desktop Entry]
Type=Application
Name=Sondenwerkzeug
Exec=sh -c "env >$fixture/ran"
ENTRY
export XDG_DATA_DIRS="$fixture" VAREK_TIMINGS=1
log="$XDG_STATE_HOME/Varek/Varek.log"
app='zz.orvel.varek'
source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
# "app_id floating visible focused x y width height" of each window in sway's tree, the
# frame with its title bar.
windows() {
  swaymsg -t get_tree | python3 -c 'import json, sys
def walk(node):
    if node.get("app_id"):
        r, bar = node["rect"], node["deco_rect"]["height"]
        print(node["app_id"], node["type"], node["visible"], node["focused"], r["x"], r["y"] - bar, r["width"], r["height"] + bar)
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        walk(child)
walk(json.load(sys.stdin))'
}
until_true() {  # until_true COMMAND…: at most 10 s
  for _ in $(seq 200); do "$@" && return 0; sleep 0.05; done
  return 1
}
panel() { windows | grep "^$app "; }
press() { wtype -k Shift_L -M alt -k space -m alt "$@"; }

# The holder: a process named varek on this test's compositor (others may run beside it).
holders() {
  for pid in $(pgrep -x varek); do
    grep -qzx "WAYLAND_DISPLAY=$WAYLAND_DISPLAY" "/proc/$pid/environ" 2>/dev/null && echo "$pid"
  done
}
gone() { ! kill -0 "$1" 2>/dev/null; }

check "run copies and ends" "$("$varek" run --action copy "12*7"; echo "exit $?")" $'^84\nexit 0$'
check "the copy outlives run" "$(wl-paste -n)" '^84$'
holder="$(holders)"
check "one holder serves it" "$holder" '^[0-9]+$'
wl-copy anderes 2>/dev/null
check "another copy ends the holder" "$(until_true gone "${holder:-0}" && echo gone)" '^gone$'
check "the other copy is the clipboard" "$(wl-paste -n)" '^anderes$'

check "the screenshot row runs" "$("$varek" run bildschirmfoto 2>&1; echo "exit $?")" \
  $'^Bildschirmfoto\nexit 0$'
shots=("$HOME"/Bilder/Bildschirmfoto\ vom\ *.png)
# A PNG's width and height are the first two words of its header chunk.
check "a picture of the whole screen in the pictures folder" "$(python3 - "${shots[@]}" <<'PY'
import struct, sys
for name in sys.argv[1:]:
    head = open(name, "rb").read(24)
    print(head[:8] == b"\x89PNG\r\n\x1a\n" and "%dx%d" % struct.unpack(">II", head[16:24]))
PY
)" '^1920x1080$'

foot -a before -T before sleep 600 >/dev/null 2>&1 &
until_true sh -c "swaymsg -t get_tree | grep -q '\"app_id\": \"before\"'"
"$varek" >/dev/null 2>&1 &
launcher=$!
# Mapped into the scratchpad before any hotkey: the first press finds it there.
until_true sh -c "$(declare -f windows panel); app=$app; panel | grep -q ' False False '"
require_running "$launcher" "$log"
check "kept hidden in the scratchpad" "$(panel)" "^$app floating_con False False"
check "this sway marked as having the rule" "$(ls "$XDG_RUNTIME_DIR")" "varek-sway-rule\.${SWAYSOCK##*/}"

press "12*7+3"
until_true sh -c "grep -q 'Taste bis Liste' '$log'"
check "floating and centred at the panel's size, focused" "$(panel)" \
  "^$app floating_con True True 590 305 740 470$"
grim "$screenshot" && grim -t ppm "$fixture/screen.ppm"
# The card: the panel's translucent violet-grey tint over the grey desktop, in a corner of
# the list where no text is drawn, and the bare desktop beside the panel.
check "the card on the screenshot" "$(python3 - "$fixture/screen.ppm" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
magic, width, height, depth, pixels = data.split(maxsplit=4)
width = int(width)
def pixel(x, y):
    at = 3 * (y * width + x)
    return tuple(pixels[at:at + 3])
inside, outside = pixel(590 + 700, 305 + 400), pixel(590 - 40, 305 + 400)
tinted = inside != outside and inside[2] > inside[1] and outside[2] == outside[1]
print("card" if tinted else f"none {inside} {outside}")
PY
)" '^card$'
wtype -k Shift_L -k Return
until_true sh -c "grep -q '„87“' '$log'"
check "the whole text arrived: its result was acted on" "$(grep -c '„87“' "$log")" '^[1-9]'

press "Sondenwerkzeug" -k Return
until_true grep -q '^PATH=' "$fixture/ran"
check "Return runs the row" "$(test -e "$fixture/ran" && echo ran)" '^ran$'
# Set for the launcher's own windows only: they need no OpenGL to learn about frames.
check "the program run inherits no frame setting" "$(grep -c '^QT_WAYLAND_DISABLE' "$fixture/ran")" '^0$'
check "the launcher skipped OpenGL" "$(grep -c 'swrast\|libLLVM' "/proc/$launcher/maps")" '^0$'
until_true sh -c "$(declare -f windows panel); app=$app; panel | grep -q ' False False '"
check "back in the scratchpad" "$(panel)" "^$app floating_con False False"
check "the window before has the focus again" "$(windows | grep '^before ')" '^before con True True'
check "timings logged" "$(grep -c 'geöffnet in\|Taste bis Liste in' "$log")" '^[2-9]|[1-9][0-9]'

# Other programs' windows, through the command line's own connection: the terminal is
# listed, and "Linke Hälfte" puts the window the user came from on the left half.
check "windows mode lists the terminal" "$("$varek" query --mode windows before 2>&1)" 'before'
"$varek" run "linke hälfte" >/dev/null 2>&1
until_true sh -c "$(declare -f windows); windows | grep -q '^before .* 0 0 960 1080$'"
check "Linke Hälfte gives the exact frame" "$(windows | grep '^before ')" ' 0 0 960 1080$'

# A copy by another program lands in the history without the panel open, and its row
# pastes into the terminal in front when the panel hides.
wl-copy "Probe aus der Zwischenablage"
until_true grep -qs "Probe aus der Zwischenablage" "$XDG_DATA_HOME/Varek/zwischenablage.json"
check "a copy lands in the history" "$(grep -c 'Probe aus der Zwischenablage' "$XDG_DATA_HOME/Varek/zwischenablage.json")" '^1$'
printf '[key-bindings]\nclipboard-paste=Control+v\n' >"$fixture/foot.ini"
foot -c "$fixture/foot.ini" -a target sh -c "cat > '$fixture/pasted'" >/dev/null 2>&1 &
until_true sh -c "$(declare -f windows); windows | grep -q '^target .* True '"
wtype -k Shift_L -M alt -k space -m alt -M ctrl -k 3 -m ctrl -k Return
sleep 1
wtype -k Shift_L -k Return
until_true grep -q "Probe aus der Zwischenablage" "$fixture/pasted"
check "a clipboard row pastes into the terminal" "$(cat "$fixture/pasted")" '^Probe aus der Zwischenablage$'

# Quitting gives the hotkey back: a press then runs no binding of the launcher's.
kill -TERM "$launcher"
until_true sh -c "! kill -0 $launcher 2>/dev/null"
timeout 2 swaymsg -t subscribe -m '["binding"]' >"$fixture/bindings" 2>/dev/null &
listener=$!
sleep 0.3
press
wait "$listener"
check "the binding is gone after quitting" "$(grep -c 'nop varek toggle' "$fixture/bindings")" '^0$'
check "the binding worked before" "$(grep -c 'Kürzel .* bereit' "$log")" '^[1-9]'

"$varek" >/dev/null 2>&1 &
launcher=$!
until_true sh -c "$(declare -f windows panel); app=$app; panel | grep -q ' False False '"
# sway's IPC socket carries its process id.
sway_pid="${SWAYSOCK%.sock}"; sway_pid="${sway_pid##*.}"
kill "$sway_pid"
until_true sh -c "! kill -0 $launcher 2>/dev/null"
check "the launcher ends with sway" "$(kill -0 "$launcher" 2>/dev/null && echo running || echo ended)" '^ended$'
check "its last word is logged" "$(tail -n 3 "$log")" 'Beendet von Qt: |Wayland-Compositor verloren'
stores=$(find "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" -name '*.json' 2>/dev/null)
check "stores intact" "$(for store in $stores; do python3 -m json.tool "$store" >/dev/null || echo "$store"; done)" '^$'

grep -E 'geöffnet in|Taste bis Liste in|Beendet|verloren' "$log" | sed 's/^[^ ]* //' >&2
finish
