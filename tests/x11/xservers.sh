# X servers for the tests of the real binary. Sourced by scripts/test; the
# tests find the display in KALEIDRA_TEST_DISPLAY.

xserver_pids=()

free_display() {
  local n=$1
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  echo "$n"
}

wait_for_display() {
  local display=$1
  for _ in $(seq 100); do
    xdpyinfo -display "$display" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "X server $display did not start" >&2
  return 1
}

start_xvfb() {
  local n
  n=$(free_display 91)
  Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
  xserver_pids+=($!)
  wait_for_display ":$n"
  export KALEIDRA_TEST_DISPLAY=":$n"
}

stop_xservers() {
  for pid in "${xserver_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${xserver_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  xserver_pids=()
}
