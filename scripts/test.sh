#!/usr/bin/env bash
# Installs what is needed, builds every target and runs every test: the host
# tests (also under the sanitizers), the checks of both exes, and the
# end-to-end tests of the real 64-bit exe under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh host asan win32 win64
jobs=$(nproc 2>/dev/null || echo 2)

echo "== host tests"
ctest --preset host -j "$jobs"
echo "== host tests under AddressSanitizer and UndefinedBehaviorSanitizer"
ctest --preset asan -j "$jobs"

echo "== exe checks"
python3 tests/exe/check_exe.py --arch i386 --require-import user32.dll!keybd_event build/win32/RightClickDesktop.exe
python3 tests/exe/check_exe.py --arch amd64 --require-import user32.dll!keybd_event build/win64/RightClickDesktop.exe
python3 -m unittest discover -s tests/exe -p 'test_*.py'

echo "== end-to-end tests under Wine"
python3 -m unittest discover -s tests/e2e -p 'test_*.py' -v
echo "== all tests passed"
