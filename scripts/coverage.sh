#!/usr/bin/env bash
# Line coverage of src/ and tools/ over the Linux tests (gcc --coverage, gcovr).
# Usage: scripts/coverage.sh [BUILD_DIR]   (default build/cov)
# Writes BUILD_DIR/coverage.txt (one line per file) and prints the total.
set -euo pipefail
dir="${1:-build/cov}"
jobs="${JOBS:-2}"
export SDL_AUDIODRIVER=dummy
# Half an hour of song time runs the same code as the long soak, in a Debug build's time.
export TINSEL_SOAK_HOURS="${TINSEL_SOAK_HOURS:-0.5}"
command -v gcovr >/dev/null || { echo "coverage.sh: gcovr is missing (apt-get install gcovr)" >&2; exit 1; }

# Atomic counters: the mixing thread and the tests' own threads count the same lines.
flags="--coverage -fprofile-update=atomic"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTINSEL_BENCH=OFF \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$dir" -j "$jobs"
find "$dir" -name '*.gcda' -delete
status=0
ctest --test-dir "$dir" --output-on-failure -j "$jobs" -LE 'wine|fuzz' || status=$?
# CMakeFiles/<version> holds only the compiler checks; the top-level targets
# (tinsel_cli among them) keep their objects in CMakeFiles too.
gcovr -r . --object-directory "$dir" -f "src/" -f "tools/" --exclude-directories "$dir/CMakeFiles/[0-9]" -j "$jobs" \
  --txt "$dir/coverage.txt" --print-summary | tail -n 3
[[ $status -eq 0 ]] || echo "coverage.sh: some tests failed; the figure counts what ran" >&2
exit "$status"
