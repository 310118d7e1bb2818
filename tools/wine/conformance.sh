#!/usr/bin/env bash
# The Win32 conformance suite under Wine, in the prefix that tools/wine/env.sh names (WINE_ARCH picks
# the x86_64 or the i686 build): a console program on a screen of its own, sound through the prefix's sound server (pulse.sh).
# Prints the suite's output and then "conformance: under Wine: passed" or "...: failed"; exit 1 on
# failure. Run it on a fresh prefix, before the scenario suites change the user's settings.
set -uo pipefail
source "$(dirname "$0")/env.sh"
if [ "$WINE_ARCH" = win32 ]; then exe=$WINE_ROOT/build/win32/bin/vudizeri-conformance.exe
else exe=$WINE_ROOT/build/win64/bin/vudizeri-conformance.exe; fi
log=$WINE_OUT/conformance.log
# Its output goes to a file: a wine command that starts services keeps a pipe open.
status=0
"$(dirname "$0")/pulse.sh" start || { echo "conformance: under Wine: failed (no sound server)"; exit 1; }
# The two architectures' runs may start at the same moment: each looks for a free display from its own
# number (xvfb-run -a does not lock between its look and the server's start).
first=99
[ "$WINE_ARCH" != win32 ] || first=199
timeout 120 xvfb-run -a -n "$first" -s "-screen 0 1024x768x24" "$WINE" "$exe" >"$log" 2>&1 || status=$?
output=$(tr -d '\r' <"$log")
"$(dirname "$0")/pulse.sh" stop
grep -av '^X connection to' <<<"$output" || true
# Read from a string, not a pipe: grep -q may stop reading early, and the writer's SIGPIPE would count.
if [ "$status" -eq 0 ] && grep -aEq '^all: [0-9]+ tests executed \(0 marked as todo, 0 failures\)' <<<"$output"; then
  echo "conformance: under Wine: passed"
else
  echo "conformance: under Wine: failed (exit status $status)"
  exit 1
fi
