#!/usr/bin/env bash
# Builds the pages with emscripten: OUT (default build/web) receives the static
# files (index.html, tinselbay.js, tinselbay.wasm, tinselbay.data, the sound's
# tinsel-sound.js, tinsel-worklet.js and tinsel-player.wasm, and the module
# player page player.html); OUT-cmake holds the build, with the offline
# renderer for node beside it; OUT/npm holds the npm package, packed, and the
# folder it is packed from.
set -euo pipefail
out="${1:-build/web}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
if ! command -v emcmake >/dev/null; then
  echo "build-web: emscripten is not installed (scripts/deps.sh installs it)" >&2
  exit 1
fi
# Debian's emscripten finds its JavaScript packages only on this path.
export NODE_PATH=/usr/share/nodejs
emcmake cmake -S . -B "$out-cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTINSEL_WERROR=ON \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_EXE_LINKER_FLAGS_RELEASE="-O2" \
  -DTINSEL_WEB_DIR="$out" >/dev/null
cmake --build "$out-cmake" --target Tinselbay tinsel-render

# The npm package: the player module, its worklet and the ES module around
# them, packed as a user installs it (OUT/npm/tinsel-player-VERSION.tgz). The
# folder it is packed from stays beside it: the module player page uses it.
version="$(tr -d '[:space:]' <VERSION)"
package="$out/npm/tinsel-player"
rm -rf "$package" "$out"/npm/tinsel-player-*.tgz
mkdir -p "$package"
cp src/platform/web/npm/index.js src/platform/web/npm/index.d.ts src/platform/web/npm/README.md LICENSE \
  src/platform/web/tinsel-worklet.js src/platform/web/tinsel-host.js "$out/tinsel-player.wasm" "$package/"
sed "s/\"version\": \"0.0.0\"/\"version\": \"$version\"/" src/platform/web/npm/package.json >"$package/package.json"
(cd "$out/npm" && npm pack --offline --silent ./tinsel-player >/dev/null)
echo "build-web: $out/npm/tinsel-player-$version.tgz"
