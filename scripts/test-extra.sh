#!/usr/bin/env bash
# Fuzz runs: each libFuzzer target for a fixed time from its checked-in seed
# corpus (fuzz/corpus/NAME, with NAME.dict when there is one), two at a time;
# any finding fails. Prints each target's speed and coverage.
set -euo pipefail
root="${1:-build}"
seconds="${FUZZ_SECONDS:-60}"
parallel="${FUZZ_JOBS:-2}"
printf '\n=== fuzz targets (clang, %ss each, %s at a time) ===\n' "$seconds" "$parallel"
cmake -S . -B "$root/fuzz" -G Ninja -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTINSEL_FUZZ=ON -DTINSEL_SANITIZE=ON -DTINSEL_TESTS=OFF -DTINSEL_BENCH=OFF -DTINSEL_TOOLS=OFF >/dev/null
cmake --build "$root/fuzz" -j "$(nproc)"
mapfile -t targets < <(find "$PWD/$root/fuzz/fuzz" -type f -name '*_fuzz' -perm -u+x | sort)
# What the targets find is written as they find it: in memory where the
# machine has it, so a disk busy with other work does not slow the runs.
logs="$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)"
trap 'rm -rf "$logs"' EXIT

# One target: a fresh directory takes what it finds, the seeds are read only.
run_one() {
  local target="$1" name corpus work
  name="$(basename "$target" _fuzz)"
  work="$logs/$name"
  mkdir -p "$work/new"
  local args=(-max_total_time="$seconds" -print_final_stats=1 -timeout=30 -rss_limit_mb=4096 "$work/new")
  corpus="$PWD/fuzz/corpus/$name"
  [[ -d "$corpus" ]] && args+=("$corpus")
  [[ -f "$PWD/fuzz/corpus/$name.dict" ]] && args=(-dict="$PWD/fuzz/corpus/$name.dict" "${args[@]}")
  local status=0
  (cd "$work" && timeout -k 10 $((seconds + 120)) "$target" "${args[@]}" >log 2>&1) || status=$?
  echo "$status" >"$work/status"
}
export -f run_one
export logs seconds
printf '%s\n' "${targets[@]}" | xargs -P "$parallel" -I{} bash -c 'run_one "$1"' _ {}

failed=0
for target in "${targets[@]}"; do
  name="$(basename "$target" _fuzz)"
  work="$logs/$name"
  status="$(cat "$work/status")"
  speed="$(grep -oP 'stat::average_exec_per_sec:\s*\K\d+' "$work/log" || echo '?')"
  runs="$(grep -oP 'stat::number_of_executed_units:\s*\K\d+' "$work/log" || echo '?')"
  cov="$(grep -oP '(DONE|pulse|NEW|REDUCE|INITED)\s+cov: \K\d+' "$work/log" | tail -1 || true)"
  printf '%-8s %8s runs %6s exec/s  cov: %s\n' "$name" "$runs" "$speed" "${cov:-?}"
  if ((status != 0)); then
    echo "FAIL: ${name}_fuzz found a fault (exit $status)"
    grep -E 'ERROR|SUMMARY' "$work/log" || true
    tail -40 "$work/log"
    failed=1
  fi
done
exit "$failed"
