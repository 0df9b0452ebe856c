#!/usr/bin/env bash
# The library as another program gets it: installed into a scratch prefix as
# `make install PREFIX=...` does, it exports only the interface, and C programs
# built against it with pkg-config alone, with the static library and with
# find_package alone render the demo's song at 48 kHz byte for byte as
# tinsel-render does, and a C program exercises each call 1.2 added. The SDL
# example builds against it too.
# usage: install_test.sh BUILD_DIR SOURCE_DIR TINSEL_RENDER C_COMPILER [EXTRA_FLAGS]
set -euo pipefail
build="$1" source="$2" render="$3" cc="$4" flags="${5:-}"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/prefix"
lib="$prefix/lib"
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cmake --install "$build" --prefix "$prefix" --component tinsel >"$scratch/install.log"
for file in include/tinsel.h lib/libtinsel.a lib/pkgconfig/tinsel.pc lib/cmake/Tinsel/TinselConfig.cmake \
  lib/cmake/Tinsel/TinselConfigVersion.cmake; do
  [[ -f "$prefix/$file" ]] || fail "make install leaves out $file"
done
[[ "$(readlink "$lib/libtinsel.so")" == libtinsel.so.1 ]] || fail "libtinsel.so does not lead to libtinsel.so.1"
soname="$(readelf -d "$lib/libtinsel.so.1" | grep -oP 'Library soname: \[\K[^]]+' || true)"
[[ "$soname" == libtinsel.so.1 ]] || fail "SONAME is '$soname', not libtinsel.so.1"
nm -D --defined-only "$lib/libtinsel.so" | awk '{print $NF}' >"$scratch/exports"
others="$(grep -v '^tinsel_' "$scratch/exports" || true)"
[[ -z "$others" ]] || fail "libtinsel.so exports more than tinsel_*: $(echo $others | head -c 400)"
grep -qx tinsel_render_s16 "$scratch/exports" || fail "libtinsel.so does not export tinsel_render_s16"

song="$source/assets/song/tinselbay.xm"
"$render" "$song" --rate 48000 --quiet -o "$scratch/expected.wav"
tail -c +45 "$scratch/expected.wav" >"$scratch/expected.raw"
[[ -s "$scratch/expected.raw" ]] || fail "tinsel-render wrote no samples"
same() { # NAME FILE: the program's output is the renderer's
  cmp -s "$scratch/expected.raw" "$2" ||
    fail "$1: $(stat -c %s "$2") bytes differ from tinsel-render's $(stat -c %s "$scratch/expected.raw")"
  echo "$1: the renderer's bytes"
}
cflags=(-std=c99 -Wall -Wextra -Werror -pedantic $flags)

# pkg-config alone, the shared library.
export PKG_CONFIG_PATH="$lib/pkgconfig"
"$cc" "${cflags[@]}" "$source/tests/lib/render_song.c" $(pkg-config --cflags --libs tinsel) -o "$scratch/render_pc"
LD_LIBRARY_PATH="$lib" "$scratch/render_pc" "$song" 48000 >"$scratch/pc.raw"
same "pkg-config, shared" "$scratch/pc.raw"

# Every call 1.2 added, from a C program built against the installed header.
"$cc" "${cflags[@]}" "$source/tests/lib/controls_song.c" $(pkg-config --cflags --libs tinsel) -lm \
  -o "$scratch/controls_song"
LD_LIBRARY_PATH="$lib" "$scratch/controls_song" "$song" >"$scratch/controls.log" ||
  { cat "$scratch/controls.log"; fail "controls_song: a 1.2 call answers otherwise than tinsel.h says"; }
echo "controls_song: every 1.2 call as tinsel.h says"

# The static library with the private libraries tinsel.pc names.
private="$(pkg-config --static --libs-only-l tinsel)"
"$cc" "${cflags[@]}" "$source/tests/lib/render_song.c" $(pkg-config --cflags tinsel) "$lib/libtinsel.a" \
  ${private/-ltinsel/} -o "$scratch/render_static"
if readelf -d "$scratch/render_static" | grep -q 'libtinsel'; then fail "the static program needs libtinsel.so"; fi
"$scratch/render_static" "$song" 48000 >"$scratch/static.raw"
same "pkg-config, static" "$scratch/static.raw"

# find_package alone: a CMake project of its own.
cmake -S "$source/tests/lib/consumer" -B "$scratch/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="-Wall -Wextra -Werror $flags" >"$scratch/consumer.log" ||
  { cat "$scratch/consumer.log"; fail "the consumer project does not configure"; }
cmake --build "$scratch/consumer" >>"$scratch/consumer.log" ||
  { cat "$scratch/consumer.log"; fail "the consumer project does not build"; }
"$scratch/consumer/render_song" "$song" 48000 >"$scratch/cmake.raw"
same "find_package" "$scratch/cmake.raw"

# The example: built only, it needs a sound device to run.
"$cc" "${cflags[@]}" "$source/examples/sdl_play.c" $(pkg-config --cflags --libs tinsel sdl2) -o "$scratch/sdl_play"
echo "examples/sdl_play.c builds"
