#!/usr/bin/env bash
# What `cmake --install` lays down is read by menus, screen-saver daemons and
# man: each file must be where they look, and be a file they accept.
build=$1 cmake=${2:-cmake}
dest=$(mktemp -d /tmp/kaleidra-install-XXXXXX)
trap 'rm -rf "$dest"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

DESTDIR=$dest "$cmake" --install "$build" --prefix /usr >/dev/null || fail "cmake --install"
share=$dest/usr/share
[ -x "$dest/usr/bin/kaleidra" ] || fail "no bin/kaleidra"
# Where the MATE and Xfce screen savers look for a theme's program.
[ "$(readlink -f "$dest/usr/libexec/xscreensaver/kaleidra")" = "$dest/usr/bin/kaleidra" ] ||
  fail "libexec/xscreensaver/kaleidra does not lead to bin/kaleidra"
for f in man/man1/kaleidra.1 applications/kaleidra-settings.desktop \
  applications/screensavers/kaleidra.desktop xscreensaver/config/kaleidra.xml \
  icons/hicolor/48x48/apps/kaleidra.png; do
  [ -f "$share/$f" ] || fail "no share/$f"
done
# The icon theme trusts the folder's name for the picture's size.
size=$(identify -format '%wx%h' "$share/icons/hicolor/48x48/apps/kaleidra.png" 2>&1)
[ "$size" = 48x48 ] || fail "the 48x48 icon is $size"
# The screen-saver entry has no main menu category on purpose, since it
# belongs in no application menu: the validator's hint about it is expected,
# anything else is not.
for f in "$share/applications/kaleidra-settings.desktop" "$share/applications/screensavers/kaleidra.desktop"; do
  out=$(desktop-file-validate --no-hints "$f" 2>&1) && [ -z "$out" ] || fail "desktop-file-validate: $out"
done
out=$(groff -man -Tutf8 -ww -z "$share/man/man1/kaleidra.1" 2>&1) && [ -z "$out" ] || fail "groff: $out"

[ "$failures" -eq 0 ] && echo "installed files are complete and valid"
exit $((failures > 0))
