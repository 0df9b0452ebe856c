#!/usr/bin/env bash
# The GStreamer element and the Python module as their users get them:
# `make install` into a scratch prefix, then gst/tests/gst_test.sh and
# python/tests/python_test.sh against it. Each skips, saying why, where its
# part of the system is missing. Needs the build of test-all.sh (its
# tinsel-render), or builds that one target.
# usage: scripts/test-gst-python.sh [BUILD_ROOT]
set -euo pipefail
root="${1:-build}"
render="$root/ci/tools/render/tinsel-render"
if [[ ! -x "$render" ]]; then
  cmake -S . -B "$root/ci" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$root/ci" --target tinsel-render
fi
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
make install BUILD="$root" PREFIX="$scratch/prefix" >"$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log"; echo "FAIL: make install PREFIX=$scratch/prefix"; exit 1; }
grep -h '^No GStreamer element' "$scratch/install.log" | sort -u || true
gst/tests/gst_test.sh "$scratch/prefix" "$PWD" "$render"
python/tests/python_test.sh "$scratch/prefix" "$PWD" "$render"
