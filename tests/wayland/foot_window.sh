#!/bin/sh
# A terminal opened on the private sway desktop appears in sway's window tree.
foot -a varek-smoke -T smoke sleep 60 >/dev/null 2>&1 &
for _ in $(seq 200); do
  swaymsg -t get_tree | grep -q '"app_id": "varek-smoke"' && exit 0
  sleep 0.05
done
echo "no foot window in sway's tree:" >&2
swaymsg -t get_tree >&2
exit 1
