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
timeout 600 tools/wine/install.sh
status=0
# The conformance suite: a console program on a screen of its own, sound on ALSA's null device; its
# output goes to a file (a wine command that starts services keeps a pipe open).
conformance_log=build/wine/conformance.log
conformance_status=0
(source tools/wine/env.sh
 timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" "$WINE" build/win64/bin/vudizeri-conformance.exe \
   >"$conformance_log" 2>&1) || conformance_status=$?
tr -d '\r' <"$conformance_log" | grep -v '^X connection to' || true
if [ "$conformance_status" -eq 0 ] && tr -d '\r' <"$conformance_log" | grep -Eq '^all: [0-9]+ tests executed \(0 marked as todo, 0 failures\)'; then
  echo "conformance: under Wine: passed"
else
  echo "conformance: under Wine: failed (exit status $conformance_status)"
  status=1
fi
timeout "$limit" build/host/bin/vudizeri-tests --gtest_filter='Wine*' || status=1
tools/wine/stop.sh
exit $status
