#!/usr/bin/env bash
# The command line, headless, against the benchmark index: the calculator row comes
# first, bench prints its line, a pick made with `run` is learned, bad arguments exit 2.
# Given a display (inside scripts/with-desktop), also what needs one: a copy that outlives
# `varek run`, and `varek signal` starting the launcher.
#   cli_test.sh VAREK_BINARY FIXTURE_SHARE_FOLDER
set -uo pipefail
varek="$1"
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
  XDG_STATE_HOME="$home/.local/state" XDG_DATA_DIRS="$2" LC_ALL=C.UTF-8
display="${DISPLAY:-}"
unset DISPLAY WAYLAND_DISPLAY
source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"

first=$("$varek" query --json "5 km in mi" | head -n 1)
check "calculator row first" "$first" '"id":"calc".*"title":"3,106864 mi"'

bench=$("$varek" bench)
check "bench line" "$(head -n 1 <<<"$bench")" '^Bench: 260 Suchen, Median [0-9.]+ ms, 95% [0-9.]+ ms, Max [0-9.]+ ms, 388 Einträge im Index$'
check "plain scan beside it" "$(tail -n +2 <<<"$bench")" '^Einfacher Durchlauf über [0-9]+ Namen: Median [0-9.]+ ms, 95% [0-9.]+ ms; die Suche braucht das [0-9.]+-Fache$'
check "bench line logged" "$(cat "$XDG_STATE_HOME/Varek/Varek.log")" 'Z Bench: 260 Suchen'

"$varek" run --action copy "zentrieren" >/dev/null 2>&1
check "a pick is learned" "$("$varek" query "")" '^0\. Fenster: Zentrieren'
check "defaults file is private" "$(stat -c %a "$XDG_CONFIG_HOME/varek/defaults.json")" '^600$'

"$varek" query --mode alles x >/dev/null 2>&1
check "bad mode exits 2" "$?" '^2$'
check "bad mode says why in German" "$("$varek" frage 2>&1)" '^varek: unbekannter Befehl'

# What the command line prints names no macOS key or product: the help of every command,
# and rows of settings panes, layouts and windows (out of reach without a display).
shown=$("$varek" --help; for command in query run bench signal; do "$varek" "$command" --help; done
  "$varek" query einstellungen; "$varek" query links; "$varek" query --mode windows x) 2>&1
check "no macOS words" "$(grep -oE '⌘|⌥|⌃|Finder|Spotlight|macOS|Systemeinstellungen|Bedienungshilfen' <<<"$shown" | head -n 1)" '^$'

status() { "$@" >/dev/null 2>&1; echo $?; }
check "version without a display" "$("$varek" --version)" '^varek [0-9]+\.[0-9]+'
check "a launcher without any display, also with a silent compositor named, says so" \
  "$("$varek" 2>&1; echo "$?"; WAYLAND_DISPLAY="$home/none" "$varek" 2>&1; echo "$?")" \
  '^(varek: keine Anzeige erreichbar \(weder WAYLAND_DISPLAY noch DISPLAY\) – der Starter braucht eine Wayland- oder X11-Sitzung.1.?){2}$'
# Muting fails without a sound server: none is reachable from this run's runtime folder.
check "exit codes: help, unknown signal, query without text, reveal without a path, failed mute" \
  "$(status "$varek" --help) $(status "$varek" signal explode) $(status "$varek" query) $(
    status "$varek" run --action reveal "5 km in mi") $(
    XDG_RUNTIME_DIR="$home" DBUS_SESSION_BUS_ADDRESS= status "$varek" run stumm)" '^0 2 2 1 1$'
check "a copy with nowhere to stay says so" "$("$varek" run --action copy "12*7+3" 2>&1)" \
  '^varek: nicht kopiert'
"$varek" einstellungen kürzel strg && "$varek" einstellungen zwischenablage aus &&
  "$varek" einstellungen anmeldung an
check "settings written" "$("$varek" einstellungen | tr '\n' ' ')" \
  '^Kürzel: Strg\+Leertaste Zwischenablage-Verlauf: aus Beim Anmelden öffnen: an $'
check "settings stored as the tray stores them" "$(cat "$XDG_CONFIG_HOME/varek/defaults.json")" \
  '"clipboardEnabled": ?false.*"hotkey": ?"Ctrl\+Space"'

if [[ -n "$display" ]]; then
  export DISPLAY="$display"
  "$varek" run --action copy "5 km in mi" >/dev/null
  check "a copy outlives run" "$(xclip -o -selection clipboard)" '^3,106864'
  "$varek" signal show
  owner=$(dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.GetConnectionUnixProcessID string:zz.orvel.varek | awk '/uint32/ {print $2}')
  check "signal starts a launcher" "$owner" '^[0-9]+$'
  "$varek" run --action copy "12*7+3" >/dev/null
  for _ in $(seq 100); do [[ "$(xclip -o -selection clipboard)" == 87 ]] && break; sleep 0.05; done
  check "the launcher keeps a copy" "$(xclip -o -selection clipboard)" '^87$'
  "$varek" einstellungen kürzel alt
  for _ in $(seq 100); do grep -q 'Kürzel Alt' "$XDG_STATE_HOME/Varek/Varek.log" && break; sleep 0.05; done
  check "the launch and the hotkey change are logged" "$(cat "$XDG_STATE_HOME/Varek/Varek.log")" \
    'Z varek [0-9.]+ gestartet: Sitzung x11, Desktop .*, Kürzel Strg\+Leertaste bereit.*Kürzel Alt\+Leertaste gewählt'
  [[ -n "$owner" ]] && kill "$owner"
fi

finish
