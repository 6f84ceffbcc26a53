#!/usr/bin/env bash
# The command line on sway with no launcher running: a copy made by `varek run` is still the
# clipboard after the run has ended, and the holder it leaves behind ends when another
# program copies; the screenshot row stores the whole screen in the pictures folder.
#   cli_sway.sh VAREK_BINARY   (inside scripts/with-sway)
set -uo pipefail
varek="$1"
XDG_DATA_DIRS="$(mktemp -d)"
export XDG_DATA_DIRS
trap 'rm -rf "$XDG_DATA_DIRS"' EXIT
passed=0 failures=0
check() {  # check NAME ACTUAL EXPECTED-PATTERN
  if [[ "$2" =~ $3 ]]; then
    passed=$((passed + 1))
  else
    echo "FAILED: $1: got «$2»"
    failures=$((failures + 1))
  fi
}
until_true() {  # until_true COMMAND…: at most 10 s
  for _ in $(seq 200); do "$@" && return 0; sleep 0.05; done
  return 1
}
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

echo "$passed passed, $failures failed"
((failures == 0))
