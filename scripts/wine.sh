#!/usr/bin/env bash
# The Wine end-to-end tests, bounded in time: installs Wine, Xvfb and mingw-w64 from Debian when they
# are missing, builds the host tools and the x86_64 program, then runs the Win32 conformance suite
# (the same checks the world passes, here against Wine's Win32) and the Wine suites (the driver
# double's contract, the fidelity of the world against the real program under Wine, and sound on
# ALSA's null device).
set -euo pipefail
cd "$(dirname "$0")/.."
limit=${WINE_TEST_LIMIT:-1500}
scripts/setup.sh wine wine64 xvfb libasound2
jobs=$(nproc)
cmake --preset host >/dev/null
cmake --build --preset host -j"$jobs"
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j"$jobs"
# A fresh prefix each time: nothing left over from an earlier run decides the outcome.
made=$(date +%s)
timeout 600 tools/wine/install.sh
# Where scripts/wine32.sh has made this machine run 32-bit programs, this includes the prefix's
# 32-bit side, which 64-bit Wine then sets up through qemu.
echo "wine: prefix made in $(( $(date +%s) - made )) s"
status=0
tools/wine/conformance.sh || status=1
timeout "$limit" build/host/bin/vudizeri-tests --gtest_filter='Wine*' || status=1
tools/wine/stop.sh
exit $status
