#!/usr/bin/env bash
# The quadrant menu of the real binary: a click opens it over the collage,
# the keyboard chooses four stars, the file takes the rating, Esc closes only
# the menu.
KALEIDRA=$1 HOST_WINDOW=$2
source "$(dirname "$0")/lib.sh"

pictures=$scratch/pictures
mkdir -p "$pictures"
convert -size 1200x800 gradient:'#3a7bd5'-'#00d2ff' "$pictures/photo.jpg"
write_settings "$pictures" ImagesPerScreen=1 Timer=60 'Lines of metadata=2' DebugOutput=1

start_saver /s
wait_saver_window 20000 >/dev/null || fail "no saver window"
# The first tick puts the picture in the only cell.
wait_first_tick 30000 || fail "no tick"
open_menu 960 540 20000 || fail "no menu"
framed() { frame=$(root_pixel 0 300) && [ "$frame" = "255,255,0" ]; }
wait_until 20000 framed && pass "the quadrant is framed in yellow while its menu is up" || fail "frame pixel $frame"
import -window root "$scratch/menu.png"
[ -n "${KALEIDRA_TEST_SHOTS:-}" ] && mkdir -p "$KALEIDRA_TEST_SHOTS" && cp "$scratch/menu.png" "$KALEIDRA_TEST_SHOTS/menu-open.png"

# The first selectable item is " No Ranking": four more steps down reach " ****".
xdotool key Down Down Down Down Down Return
rated() { rating=$(exiftool -s3 -XMP-xmp:Rating "$pictures/photo.jpg") && [ -n "$rating" ]; }
wait_until 20000 rated
[ "$rating" = "4" ] && pass "choosing **** wrote Rating 4" || fail "Rating in the file: '$rating'"
still_running || fail "choosing a command ended the saver"
# Four stars of 11 pixels, 20 apart, centred above the band at the bottom:
# the first one spans x 925 to 935.
star_drawn() { star=$(root_pixel 930 1061) && [ "$star" != "0,0,0" ]; }
wait_until 20000 star_drawn && pass "stars drawn under the picture ($star)" || fail "no star at the bottom centre"
import -window root "$scratch/stars.png"
[ -n "${KALEIDRA_TEST_SHOTS:-}" ] && cp "$scratch/stars.png" "$KALEIDRA_TEST_SHOTS/menu-stars.png"

xdotool click 3
wait_until 20000 menu_shown 960 540 || fail "a second click opened no menu"
xdotool key Escape
menu_gone() { ! menu_shown 960 540; }
wait_until 20000 menu_gone || fail "Esc left the menu up"
still_running && pass "Esc in the menu closed only the menu" || fail "Esc in the menu ended the saver"
xdotool key Escape
wait_exit 20000 && [ "$exit_code" -eq 0 ] && pass "Esc afterwards ends the saver" || { fail "the saver did not end"; stop_saver; }
finish
