#!/usr/bin/env bash
# The Python module as a user gets it: pip installs it offline into a fresh
# virtual environment, where it finds the installed libtinsel by its SONAME;
# test_tinsel.py then runs against that installation (the render against
# tinsel-render's bytes, the facts, a cell where the library has the song's
# contents, bad files). NumPy's path runs with a Python that has NumPy.
# Skips, saying why, where Python's venv is missing.
# usage: python_test.sh PREFIX SOURCE_DIR TINSEL_RENDER
set -euo pipefail
prefix="$(realpath "$1")" source="$(realpath "$2")" render="$(realpath "$3")"
fail() {
  echo "FAIL: python: $*" >&2
  exit 1
}
command -v python3 >/dev/null || { echo "SKIP: python: no python3 on this machine"; exit 0; }
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
if ! python3 -m venv "$scratch/venv" >"$scratch/venv.log" 2>&1; then
  echo "SKIP: python: python3 -m venv fails here (Debian: apt-get install python3-venv): $(tail -1 "$scratch/venv.log")"
  exit 0
fi
# A copy, so that pip's build leaves the source tree clean.
cp -r "$source/python" "$scratch/python"
rm -rf "$scratch/python/tests"
(cd "$scratch" && timeout 300 venv/bin/pip install --no-index --disable-pip-version-check -q ./python) \
  >"$scratch/pip.log" 2>&1 || { cat "$scratch/pip.log"; fail "pip install --no-index ./python fails"; }
echo "pip install --no-index ./python: installed into a fresh venv"

export LD_LIBRARY_PATH="$prefix/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" TINSEL_RENDER="$render"
cd "$scratch"
where="$(venv/bin/python -c 'import tinsel; print(tinsel.__file__)')" || fail "the venv's python cannot import tinsel"
[[ "$where" == "$scratch/venv/"* ]] || fail "tinsel was imported from $where, not the venv"
version="$(env -u LD_LIBRARY_PATH TINSEL_LIBRARY="$prefix/lib/libtinsel.so.1" venv/bin/python -c \
  'import tinsel; print(tinsel.library_version())')" || fail "TINSEL_LIBRARY does not lead to the library"
echo "tinsel imports libtinsel $version by SONAME and by TINSEL_LIBRARY"
timeout 300 venv/bin/python -m unittest discover -v -s "$source/python/tests" 2>&1 | tee "$scratch/unittest.log" |
  grep -E 'skipped|FAIL|ERROR|^Ran|^OK' || true
grep -q '^OK' "$scratch/unittest.log" || { cat "$scratch/unittest.log"; fail "test_tinsel.py fails in the venv"; }

site="$(venv/bin/python -c 'import os, tinsel; print(os.path.dirname(os.path.dirname(tinsel.__file__)))')"
for python in python3 /usr/bin/python3; do
  if command -v "$python" >/dev/null && "$python" -c 'import numpy' 2>/dev/null; then
    PYTHONPATH="$site:$source/python/tests" timeout 120 "$python" -m unittest -v test_tinsel.NumpyTest 2>&1 |
      tee "$scratch/numpy.log" | grep -E 'ok$|skipped|FAIL|ERROR' || true
    grep -q '^OK$' "$scratch/numpy.log" || { cat "$scratch/numpy.log"; fail "the NumPy render fails"; }
    grep -q skipped "$scratch/numpy.log" && fail "$python has NumPy but the NumPy test skipped"
    exit 0
  fi
done
echo "SKIP: python: no Python here has NumPy (Debian: apt-get install python3-numpy): the NumPy render is untested"
