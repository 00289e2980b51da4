# Helpers for driving the real binary on an X server. Each test file sources
# this, with $KALEIDRA (the binary) and $HOST_WINDOW (the helper) set.

if [ -z "${KALEIDRA_TEST_DISPLAY:-}" ]; then
  echo "no test X server (run through scripts/test)"
  exit 77
fi
export DISPLAY=$KALEIDRA_TEST_DISPLAY
unset KALEIDRA_BACKEND

scratch=$(mktemp -d /tmp/kaleidra-x11-XXXXXX)
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/config
mkdir -p "$HOME" "$XDG_CONFIG_HOME"
cd "$scratch"
failures=0
saver_pid=""

cleanup() {
  [ -n "$saver_pid" ] && kill -9 "$saver_pid" 2>/dev/null
  # Anchored: the test script's own command line names the helper too.
  pkill -f "^$HOST_WINDOW" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

pass() { echo "ok: $*"; }

now_ms() { date +%s%3N; }

# Writes the settings file: the folder to show, then "Name=value" lines.
write_settings() {
  local folder=$1
  shift
  mkdir -p "$XDG_CONFIG_HOME/kaleidra"
  printf '%s\n' '[Software\Veltrane\Lumivista]' "Path=$folder" "$@" >"$XDG_CONFIG_HOME/kaleidra/registry.ini"
}

# Starts the saver in the background with the given arguments.
start_saver() {
  "$KALEIDRA" "$@" &
  saver_pid=$!
}

# Runs the command "$2..." until it succeeds; fails once $1 ms have passed.
# The bound only ends a wait for something that never comes, so it is
# generous: a busy machine moves the moment the signal comes, not the result.
wait_until() {
  local deadline=$(($(now_ms) + $1))
  shift
  until "$@"; do
    [ "$(now_ms)" -lt "$deadline" ] || return 1
    sleep 0.02 # the polling interval, not a wait for the saver
  done
}

# The id of the visible full-screen saver window; fails while there is none.
saver_window() { xdotool search --onlyvisible --classname --class WindowsScreenSaverClass 2>/dev/null | head -n1 | grep .; }

# Waits up to $1 ms for the full-screen saver window; prints its id.
wait_saver_window() { wait_until "$1" saver_window; }

saver_gone() { ! kill -0 "$saver_pid" 2>/dev/null; }

# Waits up to $1 ms for the saver to end; sets exit_code, or fails to.
wait_exit() {
  wait_until "$1" saver_gone || return 1
  wait "$saver_pid"
  exit_code=$?
  saver_pid=""
}

# True when the running saver's debug log (DebugOutput=1; the file is renamed
# when the saver ends) holds at least $1 lines matching the pattern $2.
logged() {
  [ "$(cat VeltraneSSDebugSpool*.log 2>/dev/null | grep -ac -- "$2")" -ge "$1" ]
}

# Waits up to $1 ms for the running saver's first tick, which ends the splash.
wait_first_tick() { wait_until "$1" logged 1 '^0x0 End WM_TIMER$'; }

# True when the quadrant menu is up at root ($1, $2), where it was opened:
# its white top left corner lies at the click.
menu_shown() { [ "$(root_pixel $(($1 + 10)) $(($2 + 6)))" = "255,255,255" ]; }

# Clicks at root ($1, $2) and waits up to $3 ms for the menu there.
open_menu() {
  xdotool mousemove "$1" "$2" click 1
  wait_until "$3" menu_shown "$1" "$2"
}

still_running() { kill -0 "$saver_pid" 2>/dev/null; }

stop_saver() {
  [ -n "$saver_pid" ] || return 0
  kill -TERM "$saver_pid" 2>/dev/null
  wait_exit 20000 || kill -9 "$saver_pid" 2>/dev/null
  saver_pid=""
}

# The colour of one pixel of a picture file as "r,g,b".
shot_pixel() {
  convert "$1" -crop "1x1+$2+$3" -depth 8 txt:- 2>/dev/null | sed -n '2s/.*(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1,\2,\3/p'
}

# The colour of one pixel of the root window as "r,g,b", as the screen shows it now.
root_pixel() {
  import -window root -crop "1x1+$1+$2" -depth 8 txt:- 2>/dev/null | sed -n '2s/.*(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1,\2,\3/p'
}

finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
  fi
  exit 0
}
