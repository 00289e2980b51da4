#!/usr/bin/env bash
# The full-screen saver on a desktop that changes under it: the splash on a
# primary monitor that is not the leftmost, a window mapped over the saver,
# and a screen that grows while it runs. Runs on an X server of its own.
KALEIDRA=$1 HOST_WINDOW=$2
source "$(dirname "$0")/xservers.sh"
source "$(dirname "$0")/lib.sh"

command -v xrandr >/dev/null || { echo "xrandr is missing (package x11-xserver-utils)"; exit 77; }
start_own_xvfb 1600x900

pictures=$scratch/pictures
mkdir -p "$pictures"
for i in 1 2 3 4 5 6; do convert -size 640x480 plasma:fractal "$pictures/p$i.jpg"; done
write_settings "$pictures" ImagesPerScreen=4 Timer=1 DebugOutput=1

# How much of a part of a screenshot is not black, 0 to 1.
lit() { convert "$1" -crop "$2" +repage -threshold 3% -format '%[fx:mean]' info:; }

# The primary monitor on the right of a narrower one.
xrandr --setmonitor left 600/160x900/240+0+0 screen >/dev/null &&
  xrandr --setmonitor '*right' 1000/265x900/240+600+0 none >/dev/null || fail "xrandr --setmonitor refused"
start_saver /s
wait_saver_window 20000 >/dev/null || fail "no saver window"
# The banner and its frame, wherever the splash put them: all that is not
# black on the screen once the saver covers it.
splash_shown() {
  import -window root "$scratch/splash.png"
  read -r width x <<<"$(convert "$scratch/splash.png" -trim -format '%w %X' info:)"
  x=${x#+}
  [ "$width" -gt 100 ] && [ "$width" -lt 1600 ] && [ "$(shot_pixel "$scratch/splash.png" 0 0)" = "0,0,0" ]
}
wait_until 20000 splash_shown
centre=$((x + width / 2))
[ "$x" -ge 600 ] && [ "$centre" -ge 1060 ] && [ "$centre" -le 1140 ] &&
  pass "the splash is centred on the primary monitor (x $x, width $width)" ||
  fail "the splash spans x $x to $((x + width)); the primary monitor is 600 to 1600"

# A window mapped over the running saver goes back below it.
wait_first_tick 30000 || fail "no tick"
xmessage -geometry 400x300+700+300 -bg white -fg white "over the saver" 2>/dev/null &
message_pid=$!
message_mapped() { xdotool search --onlyvisible --name xmessage >/dev/null 2>&1; }
message_below() {
  import -window root "$scratch/covered.png"
  white=$(convert "$scratch/covered.png" -crop 400x300+700+300 +repage -fill black +opaque white -format '%[fx:mean]' info:)
  awk "BEGIN { exit !($white < 0.5) }"
}
wait_until 20000 message_mapped || fail "xmessage did not map"
wait_until 20000 message_below
kill "$message_pid" 2>/dev/null
awk "BEGIN { exit !($white < 0.5) }" && pass "the mapped window went below the saver" ||
  fail "the mapped window still covers the saver ($white of its area is white)"
stop_saver

# The screen grows from 1024 × 768 to 1600 × 900 while the saver runs.
xrandr --delmonitor right >/dev/null
xrandr --delmonitor left >/dev/null
xrandr --output screen --off --fb 1024x768
start_saver /s
wait_saver_window 20000 >/dev/null || fail "no saver window"
# The grid of four filled, one cell a tick.
wait_until 30000 logged 4 '^0x0 End WM_TIMER$' || fail "no grid"
xrandr --fb 1600x900 --output screen --mode 1600x900
grown() {
  import -window root "$scratch/grown.png"
  geometry=$(xwininfo -root -children | grep '"Screen Saver"' | awk '{print $(NF-1)}')
  new_area=$(lit "$scratch/grown.png" 500x900+1100+0)
  [ "$geometry" = 1600x900+0+0 ] && awk "BEGIN { exit !($new_area > 0.3) }"
}
wait_until 30000 grown
[ "$geometry" = 1600x900+0+0 ] && pass "the saver window covers the grown screen" ||
  fail "the saver window is $geometry on a 1600x900 screen"
awk "BEGIN { exit !($new_area > 0.3) }" && pass "cells fill the new area" ||
  fail "the new area is $new_area lit after the screen grew"
still_running || fail "the saver ended"
stop_saver
finish
