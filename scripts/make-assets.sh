#!/usr/bin/env bash
# Rebuilds every generated asset from its source; the same sources give the same bytes.
# Usage: scripts/make-assets.sh [BUILD-DIR]   (default build/assets)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/assets}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTINSEL_TESTS=OFF -DTINSEL_BENCH=OFF >/dev/null
cmake --build "$build" --target songc artgen fontgen icongen -j2 >/dev/null

# The song: text score to XM, samples synthesised by the compiler.
"$build/tools/songc/songc" assets/song/tinselbay.txt -o assets/song/tinselbay.xm
# The pictures: drawing code with Cairo, written as 32-bit TGAs.
"$build/tools/artgen/artgen" assets/data
# The scrollers' font: DejaVu Sans Bold rendered with FreeType into 23 x 28 cells.
"$build/tools/fontgen/fontgen" -o assets/data/scrollfont.tga
# The Windows exe's icon: the koala's head cut from its picture, in six sizes.
"$build/tools/icongen/icongen" assets/data/koala.tga -o assets/icon/tinselbay.ico
