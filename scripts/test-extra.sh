#!/usr/bin/env bash
# Fuzz runs: each libFuzzer target for a short fixed time; any finding fails.
set -euo pipefail
root="${1:-build}"
seconds="${FUZZ_SECONDS:-30}"
printf '\n=== fuzz targets (clang, %ss each) ===\n' "$seconds"
cmake -S . -B "$root/fuzz" -G Ninja -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTINSEL_FUZZ=ON -DTINSEL_SANITIZE=ON -DTINSEL_TESTS=OFF -DTINSEL_BENCH=OFF -DTINSEL_TOOLS=OFF >/dev/null
cmake --build "$root/fuzz" -j "$(nproc)"
mapfile -t targets < <(find "$PWD/$root/fuzz/fuzz" -type f -name '*_fuzz' -perm -u+x | sort)
for target in "${targets[@]}"; do
  corpus="$(mktemp -d)"
  echo "fuzzing $(basename "$target")"
  status=0
  (cd "$corpus" && "$target" -max_total_time="$seconds" -print_final_stats=1 "$corpus" >log 2>&1) || status=$?
  grep -E 'stat::number_of_executed_units|stat::average_exec_per_sec|ERROR|SUMMARY' "$corpus/log" || true
  if ((status != 0)); then
    echo "FAIL: $(basename "$target") found a fault (exit $status)"; tail -40 "$corpus/log"; exit 1
  fi
  rm -rf "$corpus"
done
