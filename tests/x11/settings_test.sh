#!/usr/bin/env bash
# The settings dialog of the real binary: laid out from its template, ended by
# Enter and Esc, driven by the keyboard, a folder chosen in GTK's chooser, and
# owned by a window given on the command line.
KALEIDRA=$1 HOST_WINDOW=$2
logo=$(cd "$(dirname "$0")/../../src/resources" && pwd)/logo.png
source "$(dirname "$0")/lib.sh"

# GTK's file chooser keeps its state through GSettings; there is no session bus here.
export GSETTINGS_BACKEND=memory
store=$XDG_CONFIG_HOME/kaleidra/registry.ini
shots=${KALEIDRA_TEST_SHOTS:-$scratch}

# The id of a visible window titled exactly $1; fails while there is none.
window_titled() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 | grep .; }
has_focus() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }

# Opens the dialog with the given arguments and waits until it has the keyboard.
open_dialog() {
  start_saver "$@"
  dialog=$(wait_until 20000 window_titled Settings) || { fail "$*: no dialog"; stop_saver; return 1; }
  wait_until 20000 has_focus "$dialog" || fail "$*: the dialog did not take the keyboard"
  return 0
}

# Ends the dialog with the given keys; checks the exit code.
end_dialog() {
  local expected=$1
  shift
  xdotool key --delay 50 "$@"
  if wait_exit 20000; then
    [ "$exit_code" -eq "$expected" ] || fail "keys $*: exit code $exit_code, expected $expected"
  else
    fail "keys $* did not end the dialog"
    stop_saver
  fi
}

# Prints the width and height of window $1.
window_size() {
  xwininfo -id "$1" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w, h}'
}

settings_hold() {
  local line
  for line in "$@"; do
    grep -qxF "$line" "$store" || { fail "the store lacks '$line'"; return 1; }
  done
}

seed_store() {
  mkdir -p "$(dirname "$store")"
  printf '%s\n' '[Software\Veltrane\Lumivista]' 'Path=/old' 'Timer=9' 'QIndex=4' '' \
    '[Software\Veltrane\Lumivista\Queue]' '0=/old/a' >"$store"
}

# Nothing stored: the dialog's layout on screen, then Enter stores every setting.
open_dialog /c && {
  read -r w h < <(window_size "$dialog")
  # 269 by 265 dialog units: recover the font's base units from the size.
  bx=$(( (w * 4 * 2 + 269) / (269 * 2) )) by=$(( (h * 8 * 2 + 265) / (265 * 2) ))
  [ $(( (269 * bx * 2 + 4) / 8 )) -eq "$w" ] && [ $(( (265 * by * 2 + 8) / 16 )) -eq "$h" ] ||
    fail "dialog size ${w}x${h} is not 269x265 dialog units"
  read -r x y < <(xwininfo -id "$dialog" | awk '/Absolute upper-left X:/ {x=$4} /Absolute upper-left Y:/ {y=$4} END {print x, y}')
  # The logo, 125 by 78 pixels, at its template place (7, 7).
  lx=$((x + (7 * bx * 2 + 4) / 8)) ly=$((y + (7 * by * 2 + 8) / 16))
  logo_shown() {
    import -window root "$shots/settings-dialog.png"
    convert "$shots/settings-dialog.png" -crop "125x78+$lx+$ly" +repage "$scratch/logo-shown.png"
    differing=$(compare -metric AE "$scratch/logo-shown.png" "$logo" null: 2>&1)
    [ "$differing" = "0" ]
  }
  wait_until 20000 logo_shown && pass "dialog ${w}x${h} (base units $bx x $by), logo at its place" ||
    fail "logo not at ($lx,$ly): $differing pixels differ"
  end_dialog 1 Return
  settings_hold 'UseRankingForDisplay=1' 'HideFilesLabeledPrivate=1' 'Mute Video=0' 'Play Video=1' \
    'Include Subdirectories=1' 'Timer=5' 'ImagesPerScreen=1' && pass "Enter: exit 1, every setting stored"
  grep -q '^Path=' "$store" && fail "OK without a folder choice stored a Path"
}

# Esc leaves the store as it was.
seed_store
before=$(md5sum <"$store")
open_dialog /c && {
  end_dialog 0 Escape
  [ "$(md5sum <"$store")" = "$before" ] && pass "Esc: exit 0, store unchanged" || fail "Esc changed the store"
}

# The keyboard: Tab follows the template order to the interval slider; Right
# moves it; Enter there still presses the default button. The stored walk stays.
open_dialog /c && {
  end_dialog 1 Tab Tab Tab Tab Tab Tab Right Right Return
  settings_hold 'Timer=11' 'Path=/old' 'QIndex=4' '0=/old/a' && pass "slider moved by keys, stored by Enter"
}

# A stored path far wider than the folder line is cut to fit it: the dialog
# keeps the size it has with no path at all.
long=$scratch
while [ ${#long} -lt 250 ]; do long+=/Holidays; done
printf '%s\n' '[Software\Veltrane\Lumivista]' "Path=${long:0:250}" >"$store"
open_dialog /c && {
  read -r lw lh < <(window_size "$dialog")
  [ "${lw}x$lh" = "${w}x$h" ] && pass "250-character path: dialog stays ${w}x$h" ||
    fail "250-character path: dialog ${lw}x$lh, not ${w}x$h"
  end_dialog 0 Escape
}

# A folder chosen in the chooser and confirmed: Path stored, the walk discarded.
seed_store
mkdir -p "$scratch/pictures/Trip"
open_dialog /c && {
  xdotool key --delay 50 Tab Tab space
  if chooser=$(wait_until 20000 window_titled "Select Folder"); then
    xdotool windowfocus --sync "$chooser" key ctrl+l
    xdotool type --delay 20 "$scratch/pictures/Trip"
    xdotool key Return
    chooser_gone() { ! window_titled "Select Folder" >/dev/null; }
    wait_until 20000 chooser_gone && wait_until 20000 has_focus "$dialog" || fail "the chooser did not close"
    # The focus is back on Browse...; two steps back is OK.
    end_dialog 1 shift+Tab shift+Tab Return
    settings_hold "Path=$scratch/pictures/Trip" && ! grep -q 'QIndex\|Queue' "$store" &&
      pass "folder chosen in the chooser: stored, walk discarded" || fail "folder choice: $(cat "$store")"
  else
    fail "Browse... opened no chooser"
    stop_saver
  fi
}

# Its window destroyed by another client, the dialog ends as Cancel instead of
# running on unseen.
open_dialog /c && {
  xdotool windowclose "$dialog"
  wait_exit 20000 && [ "$exit_code" -eq 0 ] && pass "window destroyed from outside: exit 0" ||
    { fail "window destroyed from outside: exit ${exit_code:-none}"; stop_saver; }
}

# /c:ID: the given window owns the dialog.
coproc HOSTWIN { exec "$HOST_WINDOW" 300 200; }
read -r host_id <&"${HOSTWIN[0]}"
open_dialog "/c:$host_id" && {
  owner=$(xprop -id "$dialog" WM_TRANSIENT_FOR | awk '{print $NF}')
  [[ "$owner" == 0x* ]] && [ "$((owner))" -eq "$host_id" ] && pass "/c:$host_id: transient for the host window" ||
    fail "/c:$host_id: WM_TRANSIENT_FOR is '$owner'"
  end_dialog 0 Escape
}
kill "$HOSTWIN_PID"

finish
