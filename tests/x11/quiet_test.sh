#!/usr/bin/env bash
# Under a screen-saver daemon stderr fills the session log night after night:
# a run over damaged pictures, bad metadata and a clip with sound, on a
# machine without a sound card, prints nothing there, muted or not; what the
# libraries say goes to the debug log.
KALEIDRA=$1 HOST_WINDOW=$2
source "$(dirname "$0")/lib.sh"

media=$scratch/media
mkdir -p "$media"
convert -size 640x480 plasma:fractal "$media/photo.jpg"
convert -size 640x480 xc:teal "$media/plain.png"
convert -size 640x480 xc:orange "$media/plain.webp"
head -c 2000 "$media/photo.jpg" >"$media/cut-short.jpg"
echo "not a picture" >"$media/notes.png"
cp "$media/photo.jpg" "$media/half-star.jpg"
exiftool -q -overwrite_original -XMP-xmp:Rating=2.5 "$media/half-star.jpg"
# An XMP packet that is not XML, kept as it stands.
printf '%s' '<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#"><rdf:Description</x:xmpmeta>' >"$scratch/broken.xmp"
for f in plain.png plain.webp; do
  cp "$media/$f" "$media/broken-$f"
  exiftool -q -q -overwrite_original "-xmp<=$scratch/broken.xmp" "$media/broken-$f"
done
ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i sine=frequency=440 -t 1.5 \
  -c:v mpeg4 -c:a mp2 "$media/clip.avi"

# The walk has been through the whole folder and a clip has played and closed.
all_shown() {
  logged 1 '^0x0 Done with WM_TIMER moreFiles == false$' && logged 1 '^0x0 fIMediaEvent->WaitForCompletion$' &&
    logged 1 '^exempi: '
}

# Runs the saver until it has shown everything; its stderr goes to the named file.
run_quietly() {
  start_saver /s 2>"$scratch/$1"
  wait_saver_window 20000 >/dev/null || fail "no saver window ($1)"
  wait_until 60000 all_shown || fail "the walk did not show every file ($1)"
  stop_saver
}

write_settings "$media" Timer=0 'Mute Video=1' DebugOutput=1
run_quietly muted.err
[ -s "$scratch/muted.err" ] && fail "muted run printed $(wc -l <"$scratch/muted.err") stderr lines, first: $(head -n3 "$scratch/muted.err")" ||
  pass "a muted run prints nothing on stderr"
grep -q '^exempi: ' VeltraneSSDebug0.log && pass "exempi's complaints are in the debug log" ||
  fail "no exempi line in the debug log"
grep -q '^ALSA: \|^mpv: ao' VeltraneSSDebug0.log && fail "a muted clip opened an audio output" ||
  pass "a muted clip opens no audio output"

write_settings "$media" Timer=0 'Mute Video=0' DebugOutput=1
run_quietly sound.err
[ -s "$scratch/sound.err" ] && fail "a run with sound printed $(wc -l <"$scratch/sound.err") stderr lines, first: $(head -n3 "$scratch/sound.err")" ||
  pass "a run with sound prints nothing on stderr"
finish
