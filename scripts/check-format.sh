#!/usr/bin/env bash
# Fails when a C or C++ source differs from clang-format's layout.
set -euo pipefail
mapfile -t files < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h' '*.c' | grep -v '^build' || true)
((${#files[@]})) || exit 0
clang-format --dry-run -Werror "${files[@]}"
