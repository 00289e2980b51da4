#!/usr/bin/env bash
# Under a screen-saver daemon: the collage inside the daemon's window, named
# by -window-id or $XSCREENSAVER_WINDOW, new grids when that window changes
# size, the daemon's input left alone, and SIGTERM storing the walk.
KALEIDRA=$1 HOST_WINDOW=$2
source "$(dirname "$0")/lib.sh"

pictures=$scratch/pictures
mkdir -p "$pictures"
for i in 1 2 3 4 5 6; do convert -size 640x480 plasma:fractal "$pictures/p$i.jpg"; done
write_settings "$pictures" ImagesPerScreen=4 Timer=1 DebugOutput=1

# How much of a part of the screen shows pictures, 0 to 1: neither black nor
# the white of the daemon's own window.
lit() {
  import -window root png:- |
    convert - -crop "$1" +repage -fill black -opaque white -threshold 3% -format '%[fx:mean]' info:
}
# The size of the saver window inside the daemon's window.
inner_size() { xwininfo -id "$1" -children | awk '/"Screen Saver in a daemon window"/ {print $(NF-1)}'; }
# True when the saver window in the daemon's window is $1 and the part $2 of
# the screen shows pictures.
filled() {
  size=$(inner_size "$daemon_window")
  area=$(lit "$2")
  [ "$size" = "$1" ] && awk "BEGIN { exit !($area > 0.3) }"
}
has_inner() { [ -n "$(inner_size "$daemon_window")" ]; }

coproc HOST { "$HOST_WINDOW" 800 600; }
read -r daemon_window <&"${HOST[0]}"
# The daemon's own window sits at +10+10 on the root.
start_saver -window-id "$(printf '0x%x' "$daemon_window")"
wait_first_tick 30000 || fail "no tick"
wait_until 30000 filled 800x600+0+0 800x600+10+10
[ "$size" = 800x600+0+0 ] && pass "the saver fills the daemon's window" || fail "the saver window is '$size' in an 800x600 window"
awk "BEGIN { exit !($area > 0.3) }" && pass "the collage shows in it" || fail "the daemon's window is $area lit"

# The daemon owns input: a click and a key reach its window, not the saver.
xdotool mousemove 300 200 click 1 key Escape
# Input the saver never sees gives no signal: time in which a wrong close or
# menu would show.
sleep 1
still_running && pass "a click and a key leave the saver running" || fail "input ended the saver"
[ "$(root_pixel 310 206)" != "255,255,255" ] || fail "a menu opened"

xdotool windowsize "$daemon_window" 1000 700
wait_until 30000 filled 1000x700+0+0 200x700+810+10
[ "$size" = 1000x700+0+0 ] && pass "the saver follows the daemon's window to 1000x700" || fail "the saver window is '$size'"
awk "BEGIN { exit !($area > 0.3) }" && pass "cells fill the new part" || fail "the new part is $area lit"

# The single-instance rule is the full-screen saver's own.
"$KALEIDRA" /s &
full_screen=$!
wait_saver_window 20000 >/dev/null && kill -0 "$full_screen" 2>/dev/null &&
  pass "a full-screen start runs beside the daemon's saver" || fail "the full-screen start did not run"
kill -TERM "$full_screen" 2>/dev/null
wait "$full_screen" 2>/dev/null

kill -TERM "$saver_pid"
wait_exit 20000 && [ "$exit_code" -eq 0 ] && pass "SIGTERM ends it" || fail "SIGTERM did not end it"
grep -q '^QIndex=' "$XDG_CONFIG_HOME/kaleidra/registry.ini" && pass "the walk is stored" || fail "the walk was not stored"

# The daemon's convention: the window in the environment takes the root's place.
XSCREENSAVER_WINDOW=$daemon_window start_saver --root
wait_until 20000 has_inner && pass "--root with \$XSCREENSAVER_WINDOW draws in that window" ||
  fail "--root did not use \$XSCREENSAVER_WINDOW"
stop_saver
finish
