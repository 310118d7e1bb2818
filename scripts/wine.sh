#!/usr/bin/env bash
# The Wine end-to-end tests, bounded in time: installs Wine, Xvfb and mingw-w64 from Debian when they
# are missing, builds the host tools and the x86_64 program, then runs the Wine suites (the driver
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
timeout 600 tools/wine/install.sh
status=0
timeout "$limit" build/host/bin/vudizeri-tests --gtest_filter='Wine*' || status=$?
tools/wine/stop.sh
exit $status
