#!/usr/bin/env bash
# Builds every configuration and runs every test. Used by `make test` and CI.
set -euo pipefail
root="${1:-build}"
jobs="$(nproc)"
# Tests never touch a sound card; the GL library's own leaks are not ours.
export SDL_AUDIODRIVER=dummy
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"
section() { printf '\n=== %s ===\n' "$*"; }

section "format check"
scripts/check-format.sh

section "layer check: every include runs down the parts of src/"
scripts/check-layers.py
scripts/check-layers.py --self-test

section "Linux build (warnings are errors)"
cmake -S . -B "$root/ci" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTINSEL_WERROR=ON \
  -DTINSEL_WINDOWS_EXE="$PWD/$root/windows/src/app/Tinselbay.exe" \
  -DTINSEL_WINDOWS_EXE64="$PWD/$root/windows64/src/app/Tinselbay.exe"
cmake --build "$root/ci" -j "$jobs"

section "Windows build (mingw-w64 i686)"
scripts/build-windows.sh "$root/windows"
file "$root/windows/src/app/Tinselbay.exe" | grep -q 'PE32 executable (GUI) Intel 80386'

section "Windows build (mingw-w64 x86_64)"
scripts/build-windows.sh "$root/windows64" x86_64
file "$root/windows64/src/app/Tinselbay.exe" | grep -q 'PE32+ executable (GUI) x86-64'

section "Linux tests"
ctest --test-dir "$root/ci" --output-on-failure -j "$jobs" -LE 'wine|fuzz'

section "Windows exe under wine"
ctest --test-dir "$root/ci" --output-on-failure -L wine

section "sanitizer build and tests (ASan + UBSan)"
cmake -S . -B "$root/asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTINSEL_WERROR=ON -DTINSEL_SANITIZE=ON \
  -DTINSEL_BENCH=OFF
cmake --build "$root/asan" -j "$jobs"
ctest --test-dir "$root/asan" --output-on-failure -j "$jobs" -LE 'wine|fuzz|slow'

section "ThreadSanitizer: the mixing thread and the wave outputs"
cmake -S . -B "$root/tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTINSEL_WERROR=ON -DTINSEL_TSAN=ON \
  -DTINSEL_BENCH=OFF >/dev/null
cmake --build "$root/tsan" -j "$jobs" --target audio_tests
# A race report fails the run even where the test itself would pass.
TSAN_OPTIONS="halt_on_error=1 exitcode=66" timeout 600 "$root/tsan/tests/audio/audio_tests"

section "web build: the player in WebAssembly and the page in headless Chromium"
scripts/test-web.sh "$root"

section "the GStreamer element and the Python module, installed as their users install them"
scripts/test-gst-python.sh "$root"

if [[ -x scripts/test-extra.sh ]]; then
  scripts/test-extra.sh "$root"
fi
section "all tests passed"
