#!/usr/bin/env bash
# Configures and builds the given CMake presets (default: all of them).
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(host asan win32 win64)
jobs=$(nproc 2>/dev/null || echo 2)
for preset in "${presets[@]}"; do
  echo "== build: $preset"
  cmake --preset "$preset" > /dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
