#!/usr/bin/env bash
# The Wine end-to-end tests, bounded in time: installs Wine, Xvfb and mingw-w64 from Debian when they
# are missing, builds the host tools and the x86_64 program, then runs the Win32 conformance suite
# (the same checks the world passes, here against Wine's Win32) and the Wine suites (the driver
# double's contract, the fidelity of the world against the real program under Wine, and sound).
#   scripts/wine.sh [--prefix | --suites]
# --prefix only builds and makes the fresh prefix; --suites only runs the suites on it (scripts/test.sh
# makes both prefixes first, then runs the two architectures' suites side by side). Where a package the
# suites need cannot be had, it says so loudly and prints "wine: skipped" (exit 0).
set -euo pipefail
cd "$(dirname "$0")/.."
phase=${1:-all}
limit=${WINE_TEST_LIMIT:-1500}
skip() {
  echo "==================================================================" >&2
  echo "wine: SKIPPED: $*" >&2
  echo "==================================================================" >&2
  echo "wine: skipped"
  exit 0
}
if [ "$phase" != --suites ]; then
  status=0
  scripts/setup.sh wine wine64 xvfb libasound2 pulseaudio pulseaudio-utils || status=$?
  [ "$status" -ne 3 ] || skip "the package registry lacks a package the Wine suites need (named above)"
  [ "$status" -eq 0 ] || exit "$status"
  jobs=$(nproc)
  cmake --preset host >/dev/null
  cmake --build --preset host -j"$jobs"
  cmake --preset win64 >/dev/null
  cmake --build --preset win64 -j"$jobs"
  # A fresh prefix each time: nothing left over from an earlier run decides the outcome.
  made=$(date +%s)
  timeout 600 tools/wine/install.sh
  # Where scripts/wine32.sh has made this machine run 32-bit programs, this includes the prefix's
  # 32-bit side, which 64-bit Wine then sets up through qemu: scripts/test.sh makes this prefix first.
  echo "wine: prefix made in $(( $(date +%s) - made )) s"
  [ "$phase" != --prefix ] || exit 0
fi
[ -d build/wine/prefix ] || { echo "wine: no prefix: run scripts/wine.sh --prefix first" >&2; exit 1; }
suite=$(date +%s)
status=0
tools/wine/conformance.sh || status=1
timeout "$limit" build/host/bin/vudizeri-tests --gtest_filter='Wine*' || status=1
tools/wine/stop.sh
echo "wine: suites ran in $(( $(date +%s) - suite )) s (limit $limit s)"
exit $status
