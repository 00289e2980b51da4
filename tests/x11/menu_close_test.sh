#!/usr/bin/env bash
# The saver closed while a quadrant menu is up: by SIGTERM in full screen, by
# the end of the host window in preview. Either takes the quadrants inside the
# menu's loop; the saver must still end cleanly. The faults this guards show
# only under AddressSanitizer, so scripts/test runs it on that build too.
KALEIDRA=$1 HOST_WINDOW=$2
source "$(dirname "$0")/lib.sh"

pictures=$scratch/pictures
mkdir -p "$pictures"
convert -size 1200x800 gradient:'#3a7bd5'-'#00d2ff' "$pictures/photo.jpg"
write_settings "$pictures" ImagesPerScreen=1 Timer=60

# Clicks at root ($1, $2) and waits for the menu, whose white top left corner
# lies at the click.
open_menu() {
  xdotool mousemove "$1" "$2" click 1
  for _ in $(seq 50); do
    [ "$(root_pixel $(($1 + 10)) $(($2 + 6)))" = "255,255,255" ] && return 0
    sleep 0.1
  done
  return 1
}

# $1 names the case; the saver must end within $2 ms with 0 and no sanitizer report.
expect_clean_end() {
  if ! wait_exit "$2"; then
    fail "$1: the saver did not end"
    stop_saver
  elif [ "$exit_code" -ne 0 ]; then
    fail "$1: exit code $exit_code"
  fi
  if grep -q -e AddressSanitizer -e 'runtime error' "$scratch/stderr"; then
    fail "$1: sanitizer report"
    grep -m 3 -e AddressSanitizer -e 'runtime error' -e '#[0-3] ' "$scratch/stderr"
  fi
}

"$KALEIDRA" /s 2>"$scratch/stderr" &
saver_pid=$!
wait_saver_window 3000 >/dev/null || fail "no saver window"
sleep 5.6
open_menu 960 540 || fail "full screen: no menu"
kill -TERM "$saver_pid"
expect_clean_end "SIGTERM with the menu up" 2000
grep -q QIndex "$XDG_CONFIG_HOME/kaleidra/registry.ini" || fail "SIGTERM with the menu up: no stored walk"
[ "$failures" -eq 0 ] && pass "SIGTERM with the menu up: clean end, walk stored"

before=$failures
coproc HOSTWIN { exec "$HOST_WINDOW" 400 300; }
read -r host_id <&"${HOSTWIN[0]}"
"$KALEIDRA" /p "$host_id" 2>"$scratch/stderr" &
saver_pid=$!
sleep 5.6
# The host window lies at 10,10 on the root, with no window manager to move it.
open_menu 210 160 || fail "preview: no menu"
kill "$HOSTWIN_PID"
expect_clean_end "host window gone with the menu up" 3000
[ "$failures" -eq "$before" ] && pass "host window gone with the menu up: clean end"
finish
