#!/usr/bin/env bash
# The command line on sway with no launcher running: a copy made by `varek run` is still the
# clipboard after the run has ended, and the holder it leaves behind ends when another
# program copies.
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

echo "$passed passed, $failures failed"
((failures == 0))
