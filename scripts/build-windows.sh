#!/usr/bin/env bash
# Cross-builds the 32-bit Windows Tinselbay.exe with mingw-w64 (i686).
set -euo pipefail
out="${1:-build/windows}"
cmake -S . -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release -DTINSEL_WERROR=ON
cmake --build "$out"
