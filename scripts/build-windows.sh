#!/usr/bin/env bash
# Cross-builds the 32-bit Windows Tinselbay.exe with mingw-w64 (i686), with
# its data archive appended by the packer built for this (host) machine.
set -euo pipefail
out="${1:-build/windows}"
host="$out-host"
cmake -S . -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTINSEL_TESTS=OFF -DTINSEL_BENCH=OFF >/dev/null
packer=()
# The packer path must be absolute; the output directory may be given either way.
host_abs="$(cd "$(dirname "$host")" && pwd)/$(basename "$host")"
if cmake --build "$host" --target tinsel-pack >/dev/null 2>&1; then
  packer=(-DTINSEL_PACKER="$host_abs/tools/packer/tinsel-pack")
fi
cmake -S . -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release -DTINSEL_WERROR=ON "${packer[@]}"
cmake --build "$out"
