#!/usr/bin/env bash
# Installs what is needed, builds both exes and runs the 64-bit one under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh win32 win64
echo "The 32-bit exe for Windows users: $(pwd)/build/win32/RightClickDesktop.exe"
exec python3 scripts/run_program.py
