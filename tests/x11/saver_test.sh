#!/usr/bin/env bash
# The real binary as a screen saver: covering the screen, closing, refusing
# bad command lines, preview, single instance, idle cost.
KALEIDRA=$1 HOST_WINDOW=$2
source "$(dirname "$0")/lib.sh"

black_at() { [ "$(root_pixel "$1" "$2")" = "0,0,0" ]; }
white_at() { [ "$(root_pixel "$1" "$2")" = "255,255,255" ]; }

root_geometry=$(xwininfo -root | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')

# Full screen within a second, then each closing input ends it with 0 in half a
# second. The waits go on past those bounds, so that one slow start is one
# failure and not a run of them.
for input in "key Escape" "key Return" "click 2"; do
  t0=$(now_ms)
  start_saver /s
  if ! id=$(wait_saver_window 20000); then
    fail "/s showed no window ($input)"
    stop_saver
    continue
  fi
  shown=$(($(now_ms) - t0))
  [ "$shown" -le 1000 ] || fail "/s showed its window after $shown ms, not within a second ($input)"
  geometry=$(xwininfo -id "$id" | awk '/Absolute upper-left X:/ {x=$4} /Absolute upper-left Y:/ {y=$4} /Width:/ {w=$2} /Height:/ {h=$2} END {print x "," y " " w "x" h}')
  [ "$geometry" = "0,0 $root_geometry" ] || fail "window geometry $geometry, screen $root_geometry"
  # A corner: the middle shows the splash banner.
  wait_until 20000 black_at 100 100 || fail "the screen is not black under the saver"
  xdotool mousemove 200 200 2>/dev/null
  # Nothing answers input that is rightly ignored: the saver is given a moment
  # in which a wrong close would show.
  sleep 0.1
  # On the border between two cells of the default grid: a click on a
  # picture opens its menu, which would take the key that follows.
  xdotool mousemove 640 700 click 1 click 3 2>/dev/null
  sleep 0.4 # as above: a wrong close has no signal but the end of the process
  still_running || fail "mouse movement or a side click ended the saver"
  t1=$(now_ms)
  xdotool $input
  if wait_exit 20000; then
    ended=$(($(now_ms) - t1))
    [ "$exit_code" -eq 0 ] || fail "$input: exit code $exit_code"
    [ "$ended" -le 500 ] && pass "/s shown after ${shown} ms, ended by $input after $ended ms" ||
      fail "$input ended the saver after $ended ms, not within 0.5 s"
  else
    fail "$input did not end the saver"
    stop_saver
  fi
done

# SIGTERM closes it in order.
start_saver /s
wait_saver_window 20000 >/dev/null || fail "no window for the SIGTERM case"
kill -TERM "$saver_pid"
if wait_exit 20000 && [ "$exit_code" -eq 0 ]; then
  grep -qi "Lines Of Metadata" "$XDG_CONFIG_HOME/kaleidra/registry.ini" && pass "SIGTERM: exit 0, state stored" ||
    fail "SIGTERM: the window was not destroyed in order"
else
  fail "SIGTERM did not end the saver with 0"
fi

# Refused command lines exit with 255 at once and open no window.
for args in "/x" "/p 0" "/p 999999" "/a 1234"; do
  t0=$(now_ms)
  message=$("$KALEIDRA" $args 2>&1)
  code=$?
  elapsed=$(($(now_ms) - t0))
  [ "$code" -eq 255 ] && [ "$elapsed" -lt 1000 ] && pass "$args: 255 after ${elapsed} ms" || fail "$args: exit $code after ${elapsed} ms"
  [ "$(echo "$message" | wc -l)" -eq 1 ] && [[ "$message" == *"$args"* ]] || fail "$args: not one line naming it: $message"
done
xdotool search --class WindowsScreenSaverClass >/dev/null 2>&1 && fail "a refused command line left a window"

# Without a display: one line on stderr naming it, exit 1.
message=$(DISPLAY=:9999 "$KALEIDRA" /s 2>&1)
code=$?
[ "$code" -eq 1 ] && [[ "$message" == *":9999"* ]] && [ "$(echo "$message" | wc -l)" -eq 1 ] &&
  pass "no display: $message" || fail "no display: exit $code, message '$message'"

# Preview: drawn inside the given window, keys ignored.
coproc HOSTWIN { exec "$HOST_WINDOW" 400 300; }
read -r host_id <&"${HOSTWIN[0]}"
preview_children() { xwininfo -children -id "$host_id" | grep -c '"Preview"'; }
start_saver /p "$host_id"
preview_shown() { [ "$(preview_children)" -ge 1 ]; }
wait_until 20000 preview_shown
children=$(preview_children)
[ "$children" -eq 1 ] || fail "preview: $children child windows named Preview in the host window"
child_size=$(xwininfo -children -id "$host_id" | awk '/"Preview"/ {print $(NF-1)}')
[[ "$child_size" == 400x300* ]] || fail "preview child size $child_size"
xdotool key --window "$host_id" Escape 2>/dev/null
sleep 0.3 # an ignored key has no signal: time in which a wrong close would show
still_running && pass "preview of $host_id drawn inside it, keys ignored" || fail "a key ended the preview"
kill "$HOSTWIN_PID"
wait_exit 20000 && pass "preview ended with its host window (exit $exit_code)" || { fail "preview outlived its host window"; stop_saver; }

# A second full-screen start raises the first and exits 0.
start_saver /s
first=$saver_pid
first_id=$(wait_saver_window 20000)
"$KALEIDRA" /s
code=$?
[ "$code" -eq 0 ] && kill -0 "$first" 2>/dev/null && [ "$(xdotool search --class WindowsScreenSaverClass | wc -l)" -eq 1 ] &&
  pass "second /s: exit 0, the first stays" || fail "second /s: exit $code"

# Idle cost: during the five seconds before the first tick the saver only waits.
# The splash drawn, its start-up work is done.
wait_until 20000 white_at 550 500 || fail "no splash frame"
read -r -a before < "/proc/$first/stat"
sleep 3 # the span measured
read -r -a after < "/proc/$first/stat"
used=$(( (after[13] + after[14]) - (before[13] + before[14]) ))
hz=$(getconf CLK_TCK)
echo "idle CPU over 3 s: $used ticks of 1/$hz s"
[ "$used" -le 3 ] && pass "idle saver uses no CPU to speak of" || fail "idle saver used $used ticks in 3 s"
[ -n "$first_id" ] || true
stop_saver
ls VeltraneSSDebug* >/dev/null 2>&1 && fail "a debug log without tracing" || pass "no debug log without tracing"

finish
