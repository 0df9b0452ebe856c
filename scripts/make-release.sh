#!/usr/bin/env bash
# Packs built programs into dist/tinselbay-<version>.zip: the 32-bit Windows
# exe and the Linux binary (each with its data appended), tinselbay.nfo made
# from docs/release/tinselbay.nfo.in, the screenshot and, when given, the
# capture. `make release` builds the programs and calls this.
set -euo pipefail
usage() {
  echo "usage: scripts/make-release.sh --windows Tinselbay.exe --linux Tinselbay [--capture FILE.mp4] [--out DIR]" >&2
  exit 2
}
fail() { echo "make-release: $*" >&2; exit 1; }

root="$(cd "$(dirname "$0")/.." && pwd)"
windows="" linux="" capture="" out="$root/dist"
while (($#)); do
  case "$1" in
    --windows) windows="${2:-}"; shift 2 || usage ;;
    --linux) linux="${2:-}"; shift 2 || usage ;;
    --capture) capture="${2:-}"; shift 2 || usage ;;
    --out) out="${2:-}"; shift 2 || usage ;;
    -h|--help) usage ;;
    *) usage ;;
  esac
done
[[ -n "$windows" && -n "$linux" ]] || usage

version="$(head -n 1 "$root/VERSION")"
[[ "$version" =~ ^[0-9]+(\.[0-9]+)*$ ]] || fail "VERSION holds '$version', not a version number"

# A program without its appended data would start and fail on every picture.
has_data() { [[ "$(tail -c 7 "$1")" == "TROVAKE" ]]; }
[[ -f "$windows" ]] || fail "no Windows exe at $windows"
file -b "$windows" | grep -q '^PE32 executable (GUI) Intel 80386' || fail "$windows is not a 32-bit Windows GUI exe"
has_data "$windows" || fail "$windows carries no data archive"
[[ -f "$linux" ]] || fail "no Linux binary at $linux"
file -b "$linux" | grep -q '^ELF 64-bit' || fail "$linux is not a 64-bit Linux binary"
has_data "$linux" || fail "$linux carries no data archive"
if [[ -n "$capture" ]]; then
  [[ -s "$capture" ]] || fail "no capture at $capture"
fi

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
cp "$windows" "$stage/Tinselbay.exe"
cp "$linux" "$stage/tinselbay-linux"
chmod 755 "$stage/tinselbay-linux"
cp "$root/docs/screenshot.png" "$stage/screenshot.png"
files=(Tinselbay.exe tinselbay-linux tinselbay.nfo screenshot.png)
if [[ -n "$capture" ]]; then
  cp "$capture" "$stage/tinselbay.mp4"
  files+=(tinselbay.mp4)
  keep='s/^@CAPTURE@//'
else
  keep='/^@CAPTURE@/d'
fi
# The info file is read on every system: CR LF line ends, as DOS viewers want.
sed -e '/^#/d' -e "s/@VERSION@/$version/g" -e "$keep" "$root/docs/release/tinselbay.nfo.in" |
  sed 's/$/\r/' > "$stage/tinselbay.nfo"
if LC_ALL=C grep -n '[^ -~]' <(tr -d '\r' < "$stage/tinselbay.nfo") >&2; then
  fail "tinselbay.nfo: only printable ASCII belongs in it"
fi
awk '{ sub(/\r$/, "") } length > 80 { printf "tinselbay.nfo:%d is %d columns\n", NR, length; bad = 1 } END { exit bad }' \
  "$stage/tinselbay.nfo" >&2 || fail "tinselbay.nfo is wider than 80 columns"

mkdir -p "$out"
zip="$(cd "$out" && pwd)/tinselbay-$version.zip"
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip "${files[@]}")
echo "$zip"
