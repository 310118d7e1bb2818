#!/usr/bin/env bash
# Every test: the host build's tests, the same under Address- and UndefinedBehaviorSanitizer, the
# threading tests under ThreadSanitizer, and both Windows builds with a check of what they import.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)
for preset in host host-asan host-tsan; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs"
done
for preset in win32 win64; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
done
scripts/check_pe.sh build/win32/bin/vudizeri.exe i386
scripts/check_pe.sh build/win64/bin/vudizeri.exe x86-64
echo "all tests passed"
