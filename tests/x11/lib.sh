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

# Waits up to $1 ms for the full-screen saver window; prints its id.
wait_saver_window() {
  local deadline=$(($(now_ms) + $1)) id
  while [ "$(now_ms)" -lt "$deadline" ]; do
    id=$(xdotool search --onlyvisible --classname --class WindowsScreenSaverClass 2>/dev/null | head -n1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.02
  done
  return 1
}

# Waits up to $1 ms for the saver to end; sets exit_code, or fails to.
wait_exit() {
  local deadline=$(($(now_ms) + $1))
  while [ "$(now_ms)" -lt "$deadline" ]; do
    if ! kill -0 "$saver_pid" 2>/dev/null; then
      wait "$saver_pid"
      exit_code=$?
      saver_pid=""
      return 0
    fi
    sleep 0.01
  done
  return 1
}

still_running() { kill -0 "$saver_pid" 2>/dev/null; }

stop_saver() {
  [ -n "$saver_pid" ] || return 0
  kill -TERM "$saver_pid" 2>/dev/null
  wait_exit 3000 || kill -9 "$saver_pid" 2>/dev/null
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
