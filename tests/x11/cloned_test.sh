#!/usr/bin/env bash
# Cloned monitors: RandR lists two monitors with one rectangle. The saver must
# lay one grid there, and a click must open the menu of the picture it shows.
# Runs on an X server of its own, as the monitors it adds outlive the test.
KALEIDRA=$1 HOST_WINDOW=$2
source "$(dirname "$0")/xservers.sh"
source "$(dirname "$0")/lib.sh"

if ! command -v xrandr >/dev/null; then
  echo "xrandr is missing (package x11-xserver-utils)"
  exit 77
fi

start_own_xvfb 1920x1080

xrandr --setmonitor clone-a 1920/508x1080/286+0+0 screen >/dev/null &&
  xrandr --setmonitor clone-b 1920/508x1080/286+0+0 none >/dev/null || fail "xrandr --setmonitor refused"
listed=$(xrandr --listmonitors | grep -c '1920/508x1080/286+0+0')
[ "$listed" -eq 2 ] || { fail "the server lists $listed monitors with the cloned rectangle"; finish; }

# Eight solid colours far apart, so that a screen pixel names its file.
pictures=$scratch/pictures
mkdir -p "$pictures"
colours=(200,30,30 30,200,30 30,30,200 220,220,40 40,220,220 220,40,220 240,140,20 120,120,120)
for i in "${!colours[@]}"; do
  convert -size 640x360 "xc:rgb(${colours[$i]})" -quality 95 "$pictures/colour$i.jpg"
done
write_settings "$pictures" ImagesPerScreen=4 Timer=60 DebugOutput=1

# The file whose colour is nearest to "r,g,b".
file_of_colour() {
  local best="" best_d=-1 i r g b cr cg cb d
  IFS=, read -r r g b <<<"$1"
  for i in "${!colours[@]}"; do
    IFS=, read -r cr cg cb <<<"${colours[$i]}"
    d=$(((r - cr) ** 2 + (g - cg) ** 2 + (b - cb) ** 2))
    if [ "$best_d" -lt 0 ] || [ "$d" -lt "$best_d" ]; then best_d=$d best=$i; fi
  done
  [ "$best_d" -lt 1200 ] && echo "colour$best.jpg"
}

start_saver /s
# A fresh server makes the first start slow; saver_test times the start.
wait_saver_window 20000 >/dev/null || fail "no saver window"
# The picture at the centre of the top right cell, once there is one.
picture_shown() {
  import -window root "$scratch/grid.png"
  shown=$(file_of_colour "$(shot_pixel "$scratch/grid.png" 1440 270)")
}
# The four cells are filled by the first four ticks.
wait_until 30000 logged 4 '^0x0 End WM_TIMER$' && wait_until 20000 picture_shown ||
  fail "no picture at the centre of the top right cell"
# Keys sent before the menu holds the keyboard would reach the saver.
open_menu 1440 270 20000 || fail "no menu"
# The first selectable item is " No Ranking": four more steps down reach " ****".
xdotool key Down Down Down Down Down Return
rated_files() {
  local f
  rated=""
  for f in "$pictures"/*.jpg; do
    [ -n "$(exiftool -s3 -XMP-xmp:Rating "$f")" ] && rated="$rated $(basename "$f")"
  done
  [ -n "$rated" ]
}
wait_until 20000 rated_files
[ "$rated" = " $shown" ] && [ "$(exiftool -s3 -XMP-xmp:Rating "$pictures/$shown")" = 4 ] &&
  pass "the clicked picture ($shown) took Rating 4" || fail "clicked $shown, rated:${rated:- none}"
stop_saver
# The log names each picture the walk put in a cell; a second grid takes four more.
loaded=$(grep -a "^0x0 $pictures/" VeltraneSSDebug0.log | sort -u | wc -l)
[ "$loaded" -eq 4 ] && pass "one grid of four pictures" || fail "$loaded pictures shown for four cells"
finish
