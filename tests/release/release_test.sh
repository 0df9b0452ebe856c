#!/usr/bin/env bash
# Packs a release from already-built programs and checks what a downloader
# gets: exactly the expected files, an nfo of at most 80 columns, and an exe
# that is a 32-bit Windows GUI program carrying its data.
set -uo pipefail
root="$1" exe="$2" linux="$3" packer="$4"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0
check() { # description, command...
  local what="$1"; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=1; fi
}

# A small stand-in capture: the archive takes the file as it is.
printf 'not really a video' > "$work/capture.mp4"
for kind in plain capture; do
  args=(--windows "$exe" --linux "$linux" --out "$work/$kind")
  expected="Tinselbay.exe tinselbay-linux tinselbay.nfo screenshot.png"
  if [[ $kind == capture ]]; then
    args+=(--capture "$work/capture.mp4")
    expected+=" tinselbay.mp4"
  fi
  zip="$("$root/scripts/make-release.sh" "${args[@]}")" || { echo "FAILED: make-release.sh ($kind)"; exit 1; }
  check "$kind: archive named by the version" test "$zip" = "$work/$kind/tinselbay-$(head -n1 "$root/VERSION").zip"
  listed="$(cmake -E tar tf "$zip" | LC_ALL=C sort | xargs)"
  # shellcheck disable=SC2086
  want="$(printf '%s\n' $expected | LC_ALL=C sort | xargs)"
  check "$kind: holds exactly $expected" test "$listed" = "$want"
  mkdir -p "$work/$kind/x"
  (cd "$work/$kind/x" && cmake -E tar xf "$zip")
  nfo="$work/$kind/x/tinselbay.nfo"
  check "$kind: nfo lines at most 80 columns" awk '{ sub(/\r$/, "") } length > 80 { bad = 1 } END { exit bad }' "$nfo"
  check "$kind: nfo names the version" grep -q "version $(head -n1 "$root/VERSION")" "$nfo"
  check "$kind: nfo lists the capture only when there is one" \
    test "$(grep -c 'tinselbay\.mp4' "$nfo")" = "$([[ $kind == capture ]] && echo 1 || echo 0)"
done

x="$work/plain/x"
check "exe is a 32-bit Windows GUI program" bash -c "file -b '$x/Tinselbay.exe' | grep -q '^PE32 executable (GUI) Intel 80386'"
check "exe carries the data archive" bash -c "'$packer' --list '$x/Tinselbay.exe' | grep -q 'koala.tga'"
check "Linux binary is executable and carries the data archive" \
  bash -c "test -x '$x/tinselbay-linux' && '$packer' --list '$x/tinselbay-linux' | grep -q 'scrollfont.tga'"
check "screenshot is the repository's" cmp -s "$x/screenshot.png" "$root/docs/screenshot.png"

# Wrong programs are refused rather than packed: one without its data, and a
# file that is no Windows exe at all.
head -c -11 "$exe" > "$work/no-data.exe"
for bad in "$work/no-data.exe" "$root/docs/screenshot.png"; do
  check "$(basename "$bad") refused as the exe" \
    bash -c "! '$root/scripts/make-release.sh' --windows '$bad' --linux '$linux' --out '$work/bad' 2>/dev/null"
done
check "nothing packed from them" test ! -e "$work/bad"
exit $failed
