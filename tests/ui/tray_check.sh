#!/usr/bin/env bash
# The tray icon as a user sees it on a dark panel: inside the private desktop, with GNOME's
# colour scheme set to dark and a tray host (trayer) tinted dark, the launcher's star must
# show light. Saves the panel's picture to SCREENSHOT. Usage: VAREK_BINARY SCREENSHOT
set -euo pipefail

varek="$1" screenshot="$2"
mkdir -p "$(dirname "$screenshot")"
gsettings set org.gnome.desktop.interface color-scheme prefer-dark
trayer --edge top --align right --widthtype request --height 32 --tint 0x202020 \
  --transparent true --alpha 0 --SetDockType true >/dev/null 2>&1 &
tray=$!
"$varek" >/dev/null 2>&1 &
launcher=$!
trap 'kill "$launcher" "$tray" 2>/dev/null || true' EXIT

# The tray sizes itself to its icons: it widens once the star is embedded.
panel="" width=0
for _ in $(seq 100); do
  panel="$(xdotool search --onlyvisible --name '^panel$' 2>/dev/null | head -1 || true)"
  [[ -n "$panel" ]] && width="$(xwininfo -id "$panel" | sed -n 's/^ *Width: //p')"
  ((width >= 16)) && break
  sleep 0.1
done
((width >= 16)) || { echo "tray_check: no icon was embedded in the tray" >&2; exit 1; }
sleep 1  # the icon paints after it is embedded
import -window "$panel" "$screenshot"

# A dark panel with a light star on it: the darkest pixel is the tint, the lightest the star.
read -r darkest lightest < <(convert "$screenshot" -colorspace Gray \
  -format '%[fx:int(255*minima)] %[fx:int(255*maxima)]\n' info:)
echo "tray_check: darkest $darkest, lightest $lightest (picture: $screenshot)"
if ((darkest > 60 || lightest < 200)); then
  echo "tray_check: the star does not stand out light on the dark panel" >&2
  exit 1
fi
