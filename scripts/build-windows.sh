#!/usr/bin/env bash
# Cross-builds Tinselbay.exe with mingw-w64, with its data archive appended by
# the packer built for this (host) machine. The 32-bit (i686) exe is the one
# shipped; the 64-bit (x86_64) one runs where wine has no 32-bit side.
# Usage: build-windows.sh [OUT_DIR] [i686|x86_64]
set -euo pipefail
out="${1:-build/windows}"
arch="${2:-i686}"
case "$arch" in
  i686 | x86_64) ;;
  *) echo "build-windows.sh: unknown architecture '$arch' (i686 or x86_64)" >&2; exit 2 ;;
esac
host="$out-host"
cmake -S . -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTINSEL_TESTS=OFF -DTINSEL_BENCH=OFF >/dev/null
packer=()
# The packer path must be absolute; the output directory may be given either way.
host_abs="$(cd "$(dirname "$host")" && pwd)/$(basename "$host")"
if cmake --build "$host" --target tinsel-pack >/dev/null 2>&1; then
  packer=(-DTINSEL_PACKER="$host_abs/tools/packer/tinsel-pack")
fi
cmake -S . -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTINSEL_WERROR=ON "${packer[@]}"
cmake --build "$out"
