#!/usr/bin/env bash
# Clips play inside their quadrants at the placed size, muted when so
# configured, and are replaced by pictures when they end.
KALEIDRA=$1 HOST_WINDOW=$2
source "$(dirname "$0")/lib.sh"

media=$scratch/media
mkdir -p "$media/More"
clip() {
  ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i sine=frequency=440 -t 1.5 "$@"
}
clip -c:v mpeg4 -c:a mp2 "$media/clip1.avi"
clip -c:v mpeg1video -c:a mp2 -f mpeg "$media/clip2.mpg"
clip -c:v wmv2 -c:a wmav2 -f asf "$media/clip3.wmv"
for i in $(seq 1 12); do convert -size 800x450 "xc:rgb(20,$((60 + i * 10)),200)" "$media/More/still$i.png"; done
write_settings "$media" ImagesPerScreen=4 Timer=1 'Mute Video=1' DebugOutput=1

start_saver /s
wait_saver_window 1000 >/dev/null || fail "no saver window"
sleep 5.6
import -window root "$scratch/playing.png"
[ -n "${KALEIDRA_TEST_SHOTS:-}" ] && mkdir -p "$KALEIDRA_TEST_SHOTS" && cp "$scratch/playing.png" "$KALEIDRA_TEST_SHOTS/video-playing.png"

# Each 960 x 540 quadrant shows a 320 x 240 clip twice enlarged, at +160,+30:
# black margins beside it, its first row at y + 30.
playing=0
for q in "0 0" "960 0" "0 540" "960 540"; do
  set -- $q
  left=$(shot_pixel "$scratch/playing.png" $(($1 + 100)) $(($2 + 270)))
  right=$(shot_pixel "$scratch/playing.png" $(($1 + 860)) $(($2 + 270)))
  above=$(shot_pixel "$scratch/playing.png" $(($1 + 480)) $(($2 + 28)))
  top_row=$(shot_pixel "$scratch/playing.png" $(($1 + 480)) $(($2 + 31)))
  [ "$left$right$above" = "0,0,00,0,00,0,0" ] && [ "$top_row" != "0,0,0" ] && playing=$((playing + 1))
done
[ "$playing" -eq 3 ] && pass "three clips play at 640 x 480 in their quadrants" || fail "$playing quadrants show a placed clip"

sleep 4
import -window root "$scratch/after.png"
[ -n "${KALEIDRA_TEST_SHOTS:-}" ] && cp "$scratch/after.png" "$KALEIDRA_TEST_SHOTS/video-after.png"
stills=0
for q in "0 0" "960 0" "0 540" "960 540"; do
  set -- $q
  pixel=$(shot_pixel "$scratch/after.png" $(($1 + 480)) $(($2 + 270)))
  [[ "$pixel" == 20,*,200 ]] && stills=$((stills + 1))
done
[ "$stills" -eq 4 ] && pass "ended clips were replaced by pictures" || fail "$stills quadrants show pictures after the clips ended"

stop_saver
grep -q '^0x1 mute$' VeltraneSSDebug0.log && pass "the player reports itself muted" || fail "no muted player in the log"
finish
