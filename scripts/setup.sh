#!/usr/bin/env bash
# Installs what building, running and testing need on Debian (12 or later).
# Does nothing when everything is there already.
set -euo pipefail

packages=(
  cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev          # host build, tests, benchmarks
  g++-mingw-w64-i686 g++-mingw-w64-x86-64                            # the two Windows exes
  wine64 fonts-wine                                                  # running the 64-bit exe
  xvfb xdotool x11-utils imagemagick fonts-wqy-microhei              # a screen, a user, screenshots, CJK glyphs
  python3 procps                                                     # the end-to-end harness
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
