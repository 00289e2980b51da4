#!/usr/bin/env bash
# The real binary walks a folder tree, is closed with Esc, and the next run
# continues with the entry after the last picture the first run showed.
KALEIDRA=$1 HOST_WINDOW=$2
source "$(dirname "$0")/lib.sh"

pictures=$scratch/pictures
mkdir -p "$pictures"
for i in $(seq -w 1 24); do convert -size 64x48 "xc:rgb($((10#$i * 9)),80,160)" "$pictures/pic$i.png"; done
write_settings "$pictures" ImagesPerScreen=4 Timer=0 DebugOutput=1

# The paths a run examined, in order, from its debug log.
examined() { grep -a "^0x0 $pictures/" "$1" | sed "s|^0x0 $pictures/||"; }

# A run that has shown pictures: the first tick after the splash shows them.
run_once() {
  start_saver /s
  wait_saver_window 20000 >/dev/null || fail "no saver window"
  wait_first_tick 30000 || fail "no tick"
  xdotool key Escape
  wait_exit 20000 || { fail "Esc did not end the saver"; stop_saver; }
}

run_once
run_once
first=$(examined VeltraneSSDebug0.log)
second=$(examined VeltraneSSDebug1.log)
[ -n "$first" ] && [ -n "$second" ] || fail "a run examined nothing (logs: $(ls))"

# Directory order, as the walk sees it.
order=$(ls -f "$pictures" | grep -v '^\.\.\?$')
last=$(echo "$first" | tail -n1)
expected=$(echo "$order" | grep -A1 -x "$last" | sed -n 2p)
[ -n "$expected" ] || expected=$(echo "$order" | head -n1)
got=$(echo "$second" | head -n1)
echo "first run: $(echo "$first" | wc -l) entries, last $last; second run starts at $got (expected $expected)"
[ "$got" = "$expected" ] && pass "the second run continues with the next picture" || fail "second run started at $got, not $expected"
grep -q 'QIndex' "$XDG_CONFIG_HOME/kaleidra/registry.ini" || fail "no stored walk after the second run"
finish
