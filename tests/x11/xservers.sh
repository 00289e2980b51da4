# X servers for the tests of the real binary. Sourced by scripts/test; the
# tests find the display in KALEIDRA_TEST_DISPLAY, and the two-monitor one,
# when it could be started, in KALEIDRA_TEST_DUAL_DISPLAY.

xserver_pids=()
xserver_dirs=()

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
  # -noreset: a server that resets as its last client leaves refuses the
  # next test's first connection for a moment.
  Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  xserver_pids+=($!)
  wait_for_display ":$n"
  export KALEIDRA_TEST_DISPLAY=":$n"
}

# Xorg with the dummy video driver: two screens joined by Xinerama, 1280 × 1024
# on the left of 1920 × 1080. Xvfb offers a single monitor only. When Xorg
# cannot start, nothing is exported and the tests that need it skip.
start_xorg_dual() {
  local n dir
  command -v Xorg >/dev/null || return 0
  dir=$(mktemp -d /tmp/kaleidra-xorg-XXXXXX)
  xserver_dirs+=("$dir")
  cat >"$dir/xorg.conf" <<'CONF'
Section "ServerFlags"
    Option "Xinerama" "on"
    Option "AutoAddDevices" "false"
    Option "AutoEnableDevices" "false"
    Option "DontVTSwitch" "true"
EndSection
Section "Device"
    Identifier "card0"
    Driver "dummy"
    VideoRam 64000
EndSection
Section "Device"
    Identifier "card1"
    Driver "dummy"
    VideoRam 64000
EndSection
Section "Monitor"
    Identifier "monitor0"
    HorizSync 5.0 - 1000.0
    VertRefresh 5.0 - 200.0
    Modeline "1280x1024" 109.00 1280 1368 1496 1712 1024 1027 1034 1063 -hsync +vsync
EndSection
Section "Monitor"
    Identifier "monitor1"
    HorizSync 5.0 - 1000.0
    VertRefresh 5.0 - 200.0
    Modeline "1920x1080" 173.00 1920 2048 2248 2576 1080 1083 1088 1120 -hsync +vsync
EndSection
Section "Screen"
    Identifier "screen0"
    Device "card0"
    Monitor "monitor0"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Modes "1280x1024"
        Virtual 1280 1024
    EndSubSection
EndSection
Section "Screen"
    Identifier "screen1"
    Device "card1"
    Monitor "monitor1"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Modes "1920x1080"
        Virtual 1920 1080
    EndSubSection
EndSection
Section "ServerLayout"
    Identifier "dual"
    Screen 0 "screen0" 0 0
    Screen 1 "screen1" RightOf "screen0"
EndSection
CONF
  n=$(free_display 131)
  Xorg ":$n" -config "$dir/xorg.conf" -noreset -nolisten tcp -logfile "$dir/Xorg.log" >"$dir/stderr" 2>&1 &
  xserver_pids+=($!)
  if wait_for_display ":$n" 2>/dev/null; then
    export KALEIDRA_TEST_DUAL_DISPLAY=":$n"
  else
    echo "Xorg with the dummy driver did not start; two-monitor tests will skip" >&2
  fi
  return 0
}

# An Xvfb for one test that changes the screen or its monitors, which would
# outlive it on a shared server: sets DISPLAY and xvfb_pid. -noreset: the
# server would forget added monitors when xrandr disconnects.
start_own_xvfb() {
  local size=$1 n
  for _ in 1 2 3; do
    n=$(free_display 151)
    Xvfb ":$n" -screen 0 "${size}x24" -nolisten tcp -noreset >/dev/null 2>&1 &
    xvfb_pid=$!
    wait_for_display ":$n" 2>/dev/null && break
    kill "$xvfb_pid" 2>/dev/null
    xvfb_pid=""
  done
  [ -n "$xvfb_pid" ] || { echo "no X server of its own could start"; exit 1; }
  trap 'cleanup; kill "$xvfb_pid" 2>/dev/null' EXIT
  export DISPLAY=":$n"
}

stop_xservers() {
  for pid in "${xserver_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${xserver_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  xserver_pids=()
  for dir in "${xserver_dirs[@]}"; do rm -rf "$dir"; done
  xserver_dirs=()
}
