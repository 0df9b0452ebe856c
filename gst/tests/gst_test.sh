#!/usr/bin/env bash
# The element as a desktop user gets it, from the prefix `make install` filled:
# gst-inspect-1.0 lists it with its properties, a gst-launch-1.0 pipeline to
# WAV gives tinsel-render's samples, playbin plays a song to its end and a
# seek lands where libtinsel lands it, a damaged file gives a bus error and
# no audio. Skips, saying why, where GStreamer's tools are missing.
# usage: gst_test.sh PREFIX SOURCE_DIR TINSEL_RENDER
set -euo pipefail
prefix="$(realpath "$1")" source="$(realpath "$2")" render="$(realpath "$3")"
fail() {
  echo "FAIL: gstreamer: $*" >&2
  exit 1
}
for tool in gst-inspect-1.0 gst-launch-1.0 pkg-config cc; do
  command -v "$tool" >/dev/null || { echo "SKIP: gstreamer: no $tool on this machine"; exit 0; }
done
plugins="$(ls -d "$prefix"/lib*/gstreamer-1.0 2>/dev/null | head -1 || true)"
[[ -n "$plugins" ]] || fail "make install put no GStreamer plugin folder into $prefix"
[[ -f "$plugins/libgsttinsel.so" ]] || fail "make install put no libgsttinsel.so into $plugins"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
# Only the installed plugin beside the system's, in a registry of the test's own.
export GST_PLUGIN_PATH="$plugins" GST_REGISTRY="$scratch/registry.bin"
python3 "$source/python/tests/xm_song.py" "$scratch"

timeout 60 gst-inspect-1.0 tinseldec >"$scratch/inspect.txt" 2>&1 || { cat "$scratch/inspect.txt"; fail "gst-inspect-1.0 does not list tinseldec"; }
for line in 'primary + [3-9]' 'interpolation' 'amplification' 'rules' 'repeat-count' 'stereo-separation' 'subsong' \
  'audio/x-mod' 'F32LE'; do
  grep -q -- "$line" "$scratch/inspect.txt" || fail "gst-inspect-1.0 tinseldec shows no '$line'"
done
echo "gst-inspect-1.0 lists tinseldec at rank $(grep -oP 'Rank\s+\K.*' "$scratch/inspect.txt")"

# The audio of a WAV file, whatever chunks wavenc writes beside it.
samples() { python3 -c 'import sys, wave; sys.stdout.buffer.write(wave.open(sys.argv[1]).readframes(1 << 30))' "$1"; }
for rate in 44100 22050; do
  "$render" "$scratch/song.xm" --rate "$rate" --quiet -o "$scratch/expected.wav"
  timeout 60 gst-launch-1.0 -q filesrc location="$scratch/song.xm" ! tinseldec ! \
    audio/x-raw,format=S16LE,rate="$rate" ! wavenc ! filesink location="$scratch/out.wav" ||
    fail "gst-launch-1.0 filesrc ! tinseldec ! wavenc fails at $rate Hz"
  cmp -s <(samples "$scratch/expected.wav") <(samples "$scratch/out.wav") ||
    fail "at $rate Hz the pipeline's samples are not tinsel-render's"
  echo "filesrc ! tinseldec ! S16LE $rate Hz ! wavenc: tinsel-render's samples"
done

# Stereo separation as tinsel-render's --stereo; a subsong the song lacks is a bus error.
"$render" "$scratch/song.xm" --stereo 40 --quiet -o "$scratch/expected.wav"
timeout 60 gst-launch-1.0 -q filesrc location="$scratch/song.xm" ! tinseldec stereo-separation=40 ! \
  audio/x-raw,format=S16LE,rate=44100 ! wavenc ! filesink location="$scratch/out.wav" ||
  fail "gst-launch-1.0 with stereo-separation=40 fails"
cmp -s <(samples "$scratch/expected.wav") <(samples "$scratch/out.wav") ||
  fail "stereo-separation=40 does not give tinsel-render --stereo 40's samples"
if timeout 20 gst-launch-1.0 -q filesrc location="$scratch/song.xm" ! tinseldec subsong=5 ! fakesink \
  >"$scratch/subsong.txt" 2>&1; then
  fail "subsong=5 of a song of one subsong plays"
fi
grep -q 'subsong 5 is not one of them' "$scratch/subsong.txt" || { cat "$scratch/subsong.txt"; fail "subsong=5 gives no bus error naming it"; }
echo "stereo-separation as tinsel-render --stereo; a subsong the song lacks is a bus error"

# A MOD file, named by the type finder as GStreamer's programs see it.
"$render" "$scratch/song.mod" --seconds 2 --quiet -o "$scratch/expected.wav"
timeout 60 gst-launch-1.0 -q filesrc location="$scratch/song.mod" ! typefind ! tinseldec ! \
  audio/x-raw,format=S16LE,rate=44100 ! wavenc ! filesink location="$scratch/out.wav" ||
  fail "gst-launch-1.0 filesrc ! typefind ! tinseldec does not play a MOD file"
cmp -s <(samples "$scratch/expected.wav" | head -c 352800) <(samples "$scratch/out.wav" | head -c 352800) ||
  fail "the MOD's samples through the pipeline are not tinsel-render's"
echo "filesrc ! typefind ! tinseldec on a MOD: tinsel-render's samples"

cc -Wall -Wextra -Werror "$source/gst/tests/tinseldec_check.c" $(pkg-config --cflags gstreamer-1.0) \
  -I"$prefix/include" -L"$prefix/lib" -ltinsel -Wl,-rpath,"$prefix/lib" $(pkg-config --libs gstreamer-1.0) \
  -o "$scratch/check"
# The song is 3.84 s, rows of 0.12 s: a seek to 1.9 s lands at the row started at 1.8 s.
timeout 60 "$scratch/check" play "$scratch/song.xm" 1.9 >"$scratch/play.txt" || { cat "$scratch/play.txt"; fail "playbin does not play the song"; }
value() { grep -oP "^$1=\K.*" "$scratch/play.txt"; }
[[ "$(value decoder)" == tinseldec ]] || fail "playbin chose another decoder than tinseldec"
[[ "$(value duration)" == 3840000000 ]] || fail "playbin was told a duration of $(value duration) ns, not 3.84 s"
[[ "$(value library_landed)" == 1800000000 ]] || fail "libtinsel lands a seek to 1.9 s at $(value library_landed) ns"
[[ "$(value seek_landed)" == "$(value library_landed)" ]] ||
  fail "playbin's seek to 1.9 s lands at $(value seek_landed) ns, libtinsel's at $(value library_landed)"
[[ "$(value end)" == 3840000000 ]] || fail "playbin's song ends at $(value end) ns, not 3.84 s"
echo "playbin: tinseldec chosen, 3.84 s, a seek to 1.9 s lands at 1.8 s as libtinsel's, played to the end"

# FILE and the start of the error it must give.
while read -r file message; do
  timeout 60 "$scratch/check" damaged "$scratch/$file" >"$scratch/damaged.txt" || true
  grep -qF "error=$message" "$scratch/damaged.txt" || { cat "$scratch/damaged.txt"; fail "$file gives no bus error '$message'"; }
  grep -qx "buffers=0" "$scratch/damaged.txt" || fail "$file: audio reached the sink"
done <<'TABLE'
damaged.xm a damaged XM or MOD module, or one the player cannot read: the file ends before its 2 patterns
not-a-module.xm neither an XM nor a MOD module
TABLE
echo "a damaged file and a text file: a bus error naming the reason, no audio"
