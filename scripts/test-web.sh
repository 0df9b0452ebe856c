#!/usr/bin/env bash
# The web build's tests: the player compiled to WebAssembly renders the song
# byte for byte as the Linux build does, and headless Chromium plays the page
# (its sound against that render, its picture against the snapshot tool's) and
# the module player page; the npm package is installed and used as a user would.
# Usage: scripts/test-web.sh BUILD_ROOT [LINUX_BUILD (default BUILD_ROOT/ci)]
set -euo pipefail
root="${1:-build}"
linux="${2:-$root/ci}"
chromium=/usr/bin/chromium-headless-shell
if ! command -v emcmake >/dev/null || [[ ! -x "$chromium" ]]; then
  echo "SKIP web tests: emscripten or chromium-headless-shell is not installed (scripts/deps.sh installs them)"
  exit 0
fi
started=$SECONDS
scripts/build-web.sh "$root/web"

native="$linux/tools/render/tinsel-render"
cmake --build "$linux" --target tinsel-render tinsel-snapshot >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# Both rule sets: each has vector loops of its own in WebAssembly. The song,
# then ping-pong loops (both directions) played high at other rates: at 96 kHz
# the buffer address carries within a tick, and at 8 kHz steps pass the two
# entries a frame below which a group's entries come from one load.
cases=("tinsel|--embedded --rules tinsel --seconds 60" "ft2|--embedded --rules ft2 --seconds 60"
  "ft2-high|fuzz/corpus/player/loop-pingpong-16.xm --rules ft2 --pitch 3.7 --rate 96000 --seconds 10"
  "ft2-large|fuzz/corpus/player/loop-pingpong-8.xm --rules ft2 --pitch 4 --amp 32 --rate 8000 --seconds 10"
  "tinsel-high|fuzz/corpus/player/loop-pingpong-16.xm --rules tinsel --pitch 3.7 --rate 48000 --seconds 10")
for case in "${cases[@]}"; do
  name="${case%%|*}"
  read -ra options <<<"${case#*|}"
  timeout 300 node "$root/web-cmake/tools/render/tinsel-render.js" \
    "${options[@]}" --out "$work/web-$name.wav" 2>/dev/null
  timeout 300 "$native" "${options[@]}" --out "$work/linux-$name.wav" 2>/dev/null
  web_sum="$(sha256sum <"$work/web-$name.wav")"
  linux_sum="$(sha256sum <"$work/linux-$name.wav")"
  echo "render $name: WebAssembly ${web_sum%% *}"
  echo "render $name: Linux       ${linux_sum%% *}"
  if [[ "$web_sum" != "$linux_sum" ]]; then
    echo "FAIL: the WebAssembly player renders differently: ${case#*|}"
    exit 1
  fi
done
cp "$work/linux-tinsel.wav" "$work/linux.wav"

# The sound is made in the audio worklet: nothing of the pages or the package may use the
# deprecated script processor, which runs on the page's main thread.
if grep -rl -e createScriptProcessor -e ScriptProcessorNode "$root"/web; then
  echo "FAIL: the built page uses a script processor"
  exit 1
fi
timeout 120 "$linux/tools/snapshot/tinsel-snapshot" --data assets --at 12,16,20 --out "$work" >/dev/null
timeout 400 python3 tests/web/page_test.py "$root/web" --chromium "$chromium" --song "$work/linux.wav" \
  --snapshots "$work"
timeout 300 python3 tests/web/player_test.py "$root/web" --chromium "$chromium" --render "$native" \
  --song assets/song/tinselbay.xm
timeout 600 python3 tests/web/package_test.py "$root/web/npm/tinsel-player-$(tr -d '[:space:]' <VERSION).tgz" \
  --chromium "$chromium" --render "$native" --song assets/song/tinselbay.xm
gzipped=0
for file in "$root"/web/*; do
  if [[ -f "$file" ]]; then
    gzipped=$((gzipped + $(gzip -9 -c "$file" | wc -c)))
  fi
done
echo "page size, gzip -9: $gzipped bytes; web build and tests took $((SECONDS - started)) s"
