#!/usr/bin/env bash
# Installs the packages the build and the tests need; quick when all are present.
# Usage: scripts/deps.sh [--wine]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
want() { grep -v '^\s*#' "$1" | sed '/^\s*$/d'; }
lists=("$here/apt-packages.txt")
if [[ "${1:-}" == "--wine" ]]; then
  lists+=("$here/apt-packages-i386.txt")
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    rm -f /var/lib/apt/periodic/tinselbay-updated
  fi
fi
missing=()
for list in "${lists[@]}"; do
  while read -r pkg; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done < <(want "$list")
done
if ((${#missing[@]})); then
  echo "deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if [[ ! -e /var/lib/apt/periodic/tinselbay-updated ]]; then
    # A mirror in the middle of a sync fails one index now and then: try again,
    # then go on with the lists there are; the install says what it cannot find.
    for try in 1 2 3; do
      apt-get update -q && break
      echo "deps: apt-get update failed (try $try of 3)" >&2
      sleep 20
    done
    mkdir -p /var/lib/apt/periodic && touch /var/lib/apt/periodic/tinselbay-updated
  fi
  native=() foreign=()
  for pkg in "${missing[@]}"; do
    if [[ "$pkg" == *:i386 ]]; then foreign+=("$pkg"); else native+=("$pkg"); fi
  done
  if ((${#native[@]})); then
    apt-get install -y -q --no-install-recommends "${native[@]}"
  fi
  # Without the 32-bit packages the Windows tests run the 64-bit build under
  # wine64, so a mirror that cannot give them does not stop the rest.
  if ((${#foreign[@]})) && ! apt-get install -y -q --no-install-recommends "${foreign[@]}"; then
    echo "deps: the 32-bit packages could not be installed; the Windows tests will use wine64" >&2
  fi
fi
