#!/usr/bin/env bash
# Clips play inside their quadrants fitted to their own size, muted when so
# configured; an ended clip keeps its last frame until the tick replaces it
# with a picture.
KALEIDRA=$1 HOST_WINDOW=$2
source "$(dirname "$0")/lib.sh"

media=$scratch/media
mkdir -p "$media/More"
clip() {
  local size=$1
  shift
  ffmpeg -v error -y -f lavfi -i "testsrc=size=$size:rate=25" -f lavfi -i sine=frequency=440 -t 3 "$@"
}
# Neither size is the 320 x 240 that a clip of unknown size would take.
clip 1280x720 -c:v mpeg4 -c:a mp2 "$media/clip1.avi"
clip 352x288 -c:v mpeg1video -c:a mp2 -f mpeg "$media/clip2.mpg"
clip 1280x720 -c:v wmv2 -c:a wmav2 -f asf "$media/clip3.wmv"
# 4:3, so that no picture passes for a wide clip.
for i in $(seq 1 12); do convert -size 800x600 "xc:rgb(20,$((60 + i * 10)),200)" "$media/More/still$i.png"; done
# Twelve seconds between ticks: the clips, three seconds long, have time to
# show a frame on a busy machine and end well before the tick that replaces them.
write_settings "$media" ImagesPerScreen=4 Timer=12 'Mute Video=1' DebugOutput=1

cells=("0 0" "960 0" "0 540" "960 540")

# The colours of the points of shot $1 given as "x y" pairs, one "r,g,b" line each.
pixels() {
  local shot=$1 format="" at
  shift
  for at in "$@"; do
    set -- $at
    format+="%[fx:int(255*p{$1,$2}.r+.5)],%[fx:int(255*p{$1,$2}.g+.5)],%[fx:int(255*p{$1,$2}.b+.5)]\n"
  done
  convert "$shot" -format "$format" info:
}

# The nine points of the 960 x 540 quadrant at $1,$2 that tell what it shows.
cell_points() {
  local x=$1 y=$2
  printf '%s\n' "$((x + 430)) $((y + 2))" "$((x + 430)) $((y + 537))" "$((x + 955)) $((y + 270))" \
    "$((x + 460)) $((y + 124))" "$((x + 460)) $((y + 129))" "$((x + 460)) $((y + 410))" \
    "$((x + 460)) $((y + 416))" "$((x + 652)) $((y + 270))" "$((x + 660)) $((y + 270))"
}

# What a quadrant shows, from the colours of its nine points ($1 to $9):
# "wide" for a 1280 x 720 clip at 75 %, filling it (16:9), "cif" for a 352
# x 288 clip as it is at +304,+126 (11:9), else "other". Placed at the 320 x
# 240 of a clip of unknown size, either would show within 640 x 480 at
# +160,+30. The frame's left columns are black; its top and bottom rows and
# right column are lit.
shown() {
  local dark=0,0,0
  if [ "$1" != $dark ] && [ "$2" != $dark ] && [ "$3" != $dark ]; then
    echo wide
  elif [ "$4" = $dark ] && [ "$5" != $dark ] && [ "$6" != $dark ] && [ "$7" = $dark ] &&
    [ "$8" != $dark ] && [ "$9" = $dark ]; then
    echo cif
  else
    echo other
  fi
}

# The sorted list of clips shown in shot $1, e.g. "cif wide wide", read
# with one decode of the shot so that a busy machine still samples often.
clips_shown() {
  local cell points=() p i
  for cell in "${cells[@]}"; do
    mapfile -t -O "${#points[@]}" points < <(cell_points $cell)
  done
  mapfile -t p < <(pixels "$1" "${points[@]}")
  for i in 0 9 18 27; do
    shown "${p[@]:$i:9}"
  done | grep -v other | sort | tr '\n' ' '
}

# As .mpc, which is read and written without coding: a busy machine samples more often.
shot() {
  import -window root "$scratch/$1.mpc"
  [ -n "${KALEIDRA_TEST_SHOTS:-}" ] && mkdir -p "$KALEIDRA_TEST_SHOTS" && convert "$scratch/$1.mpc" "$KALEIDRA_TEST_SHOTS/video-$1.png"
  true
}

# The number of quadrants of shot $1 that show a still.
stills_shown() {
  local shot=$1 cell pixel count=0
  for cell in "${cells[@]}"; do
    set -- $cell
    pixel=$(shot_pixel "$shot" $(($1 + 480)) $(($2 + 270)))
    [[ "$pixel" == 20,*,200 ]] && count=$((count + 1))
  done
  echo $count
}

# Each check waits for what it checks, however busy the machine: a late
# first tick or a slow player only moves the moment it comes.
start_saver /s
wait_saver_window 20000 >/dev/null || fail "no saver window"
deadline=$(($(now_ms) + 30000))
until shot playing && playing=$(clips_shown "$scratch/playing.mpc") && [ "$playing" = "cif wide wide " ]; do
  [ "$(now_ms)" -lt "$deadline" ] || break
done
[ "$playing" = "cif wide wide " ] && pass "clips play fitted to 16:9 and 11:9 in their quadrants" ||
  fail "playing clips fitted as: $playing"

# A clip has ended when its frames stop changing (the test pattern moves on
# every frame); until the next tick replaces it, it shows its last frame
# where it played, never a black quadrant.
deadline=$(($(now_ms) + 20000))
until shot ended && ended=$(clips_shown "$scratch/ended.mpc") && [ "$ended" = "cif wide wide " ] &&
  shot ended-again && [ "$(compare -metric AE "$scratch/ended.mpc" "$scratch/ended-again.mpc" null: 2>&1)" = 0 ]; do
  [ "$(now_ms)" -lt "$deadline" ] || break
done
[ "$ended" = "cif wide wide " ] && pass "ended clips show their last frame where they played" ||
  fail "ended clips fitted as: $ended"

deadline=$(($(now_ms) + 30000))
until shot after && stills=$(stills_shown "$scratch/after.mpc") && [ "$stills" -eq 4 ]; do
  [ "$(now_ms)" -lt "$deadline" ] || break
done
[ "$stills" -eq 4 ] && pass "ended clips were replaced by pictures" || fail "$stills quadrants show pictures after the clips ended"

stop_saver
grep -q '^0x1 mute$' VeltraneSSDebug0.log && pass "the player reports itself muted" || fail "no muted player in the log"
finish
