#!/usr/bin/env bash
# The real binary with a folder of pictures: the splash for five seconds,
# then a grid of pictures, each centred in its own cell. With "dual" as the
# third argument it runs on the two-monitor Xorg server instead, where each
# monitor must get a grid of its own. KALEIDRA_TEST_SHOTS, when set, names a
# folder that keeps the screenshots.
KALEIDRA=$1 HOST_WINDOW=$2 MODE=${3:-single}
if [ "$MODE" = dual ]; then
  if [ -z "${KALEIDRA_TEST_DUAL_DISPLAY:-}" ]; then
    echo "no two-monitor X server (Xorg with the dummy driver)"
    exit 77
  fi
  KALEIDRA_TEST_DISPLAY=$KALEIDRA_TEST_DUAL_DISPLAY
fi
source "$(dirname "$0")/lib.sh"

# Pictures of many shapes, none of them black anywhere (levels lifted), so
# that black on screen is always a margin or a place nothing painted.
pictures=$scratch/pictures
mkdir -p "$pictures"
i=0
for sample in "1600x900 plasma:fractal" "400x900 gradient:gold-firebrick" "1800x450 plasma:steelblue-orange" \
  "300x200 gradient:lime-teal" "900x900 radial-gradient:khaki-purple" "640x480 plasma:fractal" \
  "1200x800 gradient:skyblue-darkgreen" "500x1000 plasma:pink-olive" "2400x800 gradient:orange-navy" \
  "820x615 plasma:fractal" "350x600 radial-gradient:yellow-maroon" "1024x768 gradient:cyan-indigo"; do
  i=$((i + 1))
  convert -seed "$i" -size "${sample%% *}" "${sample#* }" +level 12%,100% "$pictures/sample$i.png" ||
    fail "could not make sample $i"
done
# A long period keeps the grid still once it is filled.
write_settings "$pictures" ImagesPerScreen=9 Timer=60 DebugOutput=1

# As .mpc, which the many crops of a check read without decoding.
shot() {
  import -window root "$scratch/$1.mpc" 2>/dev/null || fail "no screenshot $1"
  if [ -n "${KALEIDRA_TEST_SHOTS:-}" ]; then
    mkdir -p "$KALEIDRA_TEST_SHOTS"
    convert "$scratch/$1.mpc" "$KALEIDRA_TEST_SHOTS/$1.png"
  fi
}

# The colour of one pixel of a screenshot as "r,g,b".
pixel() {
  convert "$scratch/$1.mpc" -crop "1x1+$2+$3" -depth 8 txt:- | sed -n '2s/.*(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1,\2,\3/p'
}

# First and last pixel that is not black on a line of a screenshot: $2 = "row"
# or "column", $3 the line's coordinate, $4 and $5 where it starts and its length.
lit_extent() {
  local geometry
  if [ "$2" = row ]; then geometry="${5}x1+$4+$3"; else geometry="1x$5+$3+$4"; fi
  convert "$scratch/$1.mpc" -crop "$geometry" +repage -depth 8 txt:- |
    awk -v start="$4" -v axis="$2" -F'[,: ]+' 'NR > 1 && $0 !~ /#000000/ {
        at = (axis == "row" ? $1 : $2) + start
        if (first == "") first = at
        last = at
      } END { print (first == "" ? "none" : first " " last) }'
}

# True when the lit pixels of a line (arguments as for lit_extent) lie
# balanced around the middle of the span, give or take rounding.
balanced() {
  local first last offset
  read -r first last <<<"$(lit_extent "$@")"
  [ "$first" != none ] || return 1
  offset=$(((first + last + 1) - (2 * $4 + $5)))
  [ "$offset" -ge -2 ] && [ "$offset" -le 2 ]
}

# Every cell of a 3 × 3 grid over the monitor ($2 = left,top,width,height)
# shows a picture centred in it, across and down through the cell's middle.
# Names each cell that does not; fails when there is one.
off_centre_cells() {
  local name=$1 left top width height cw ch row column cx cy bad=0
  IFS=, read -r left top width height <<<"$2"
  cw=$((width / 3)) ch=$((height / 3))
  for row in 0 1 2; do
    for column in 0 1 2; do
      cx=$((left + column * cw)) cy=$((top + row * ch))
      if ! balanced "$name" row $((cy + ch / 2)) "$cx" "$cw" || ! balanced "$name" column $((cx + cw / 2)) "$cy" "$ch"; then
        echo "$name: the picture of cell $column,$row ($cx,$cy, $cw × $ch) is not centred:" \
          "lit $(lit_extent "$name" row $((cy + ch / 2)) "$cx" "$cw") across," \
          "$(lit_extent "$name" column $((cx + cw / 2)) "$cy" "$ch") down"
        bad=1
      fi
    done
  done
  return $bad
}

check_grid() {
  local cw=$(($(cut -d, -f3 <<<"$2") / 3)) ch=$(($(cut -d, -f4 <<<"$2") / 3)) bad
  if bad=$(off_centre_cells "$@"); then
    pass "$1: 3 × 3 pictures centred in their cells on the monitor at $(cut -d, -f1,2 <<<"$2") (${cw} × ${ch})"
  else
    while read -r line; do fail "$line"; done <<<"$bad"
  fi
}

# True when shot $1 shows a picture at the middle of every cell of the 3 × 3
# grids ($2... as for check_grid): no picture is black anywhere. Each tick
# fills one cell, so no shot is taken before a tick has run for each.
grids_filled() {
  local name=$1 grid left top width height row column format=""
  shift
  logged $((9 * $#)) '^0x0 End WM_TIMER$' || return 1
  for grid in "$@"; do
    IFS=, read -r left top width height <<<"$grid"
    for row in 1 3 5; do
      for column in 1 3 5; do
        format+="%[fx:p{$((left + column * width / 6)),$((top + row * height / 6))}.intensity > 0 ? 1 : 0]"
      done
    done
  done
  shot "$name"
  [ "$(convert "$scratch/$name.mpc" -format "$format" info:)" = "$(printf '1%.0s' $(seq $((9 * $#))))" ]
}

splash_framed() {
  shot "$1"
  [ "$(pixel "$1" 550 500)" = "255,255,255" ] && [ "$(pixel "$1" 1369 500)" = "255,255,255" ] &&
    [ "$(pixel "$1" 960 316)" = "255,255,255" ] && [ "$(pixel "$1" 551 500)" = "0,0,0" ] &&
    [ "$(pixel "$1" 100 100)" = "0,0,0" ]
}

t0=$(now_ms)
start_saver /s
wait_saver_window 20000 >/dev/null || fail "no saver window"

if [ "$MODE" = dual ]; then
  wait_until 30000 grids_filled dual 0,0,1280,1024 1280,0,1920,1080
  check_grid dual 0,0,1280,1024
  check_grid dual 1280,0,1920,1080
  # Below the shorter monitor lies no monitor at all; the strips left over
  # by the integer cells are never painted.
  [ "$(pixel dual 600 1050)" = "0,0,0" ] || fail "dual: something painted below the left monitor"
  [ "$(lit_extent dual row 1023 0 1278)" = none ] || fail "dual: the bottom strip of the left monitor was painted"
  [ "$(lit_extent dual column 1279 0 1024)" = none ] || fail "dual: the right strip of the left monitor was painted"
else
  # The banner is centred on the 1920 × 1080 screen at (560, 326), framed 10 pixels out.
  wait_until 20000 splash_framed splash && pass "splash: banner framed in white on black" ||
    fail "splash: no white frame around the centred banner"
  # The splash lasting its five seconds is what is tested here: no signal
  # marks a moment before its end but the clock.
  left=$((4300 - ($(now_ms) - t0)))
  [ "$left" -gt 0 ] && sleep "$((left / 1000)).$(printf '%03d' $((left % 1000)))"
  shot splash-late
  if logged 1 '^0x0 End WM_TIMER$'; then
    echo "the first tick came before the shot: too late to tell"
  else
    [ "$(pixel splash-late 550 500)" = "255,255,255" ] && pass "splash still shown after 4.3 s" ||
      fail "splash gone before five seconds"
  fi
  wait_until 30000 grids_filled grid 0,0,1920,1080
  check_grid grid 0,0,1920,1080
  [ "$(pixel grid 550 500)" != "255,255,255" ] || fail "grid: the splash frame is still there"
fi

stop_saver
finish
