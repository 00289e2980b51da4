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
write_settings "$pictures" ImagesPerScreen=1 Timer=60 DebugOutput=1

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
wait_saver_window 20000 >/dev/null || fail "no saver window"
# The first tick puts the picture in the only cell.
wait_first_tick 30000 || fail "full screen: no tick"
open_menu 960 540 20000 || fail "full screen: no menu"
kill -TERM "$saver_pid"
expect_clean_end "SIGTERM with the menu up" 20000
grep -q QIndex "$XDG_CONFIG_HOME/kaleidra/registry.ini" || fail "SIGTERM with the menu up: no stored walk"
[ "$failures" -eq 0 ] && pass "SIGTERM with the menu up: clean end, walk stored"

before=$failures
coproc HOSTWIN { exec "$HOST_WINDOW" 400 300; }
read -r host_id <&"${HOSTWIN[0]}"
"$KALEIDRA" /p "$host_id" 2>"$scratch/stderr" &
saver_pid=$!
wait_first_tick 30000 || fail "preview: no tick"
# The host window lies at 10,10 on the root, with no window manager to move it.
open_menu 210 160 20000 || fail "preview: no menu"
kill "$HOSTWIN_PID"
expect_clean_end "host window gone with the menu up" 20000
[ "$failures" -eq "$before" ] && pass "host window gone with the menu up: clean end"
finish
