#!/usr/bin/env bash
# Plays one scenario under Wine: the real program (build/win64, or build/win32 with WINE_ARCH=win32)
# beside the controller, with the driver double. The trace goes to standard output, as vudizeri-sim
# writes it.
# Exit status 3: the scenario needs what the prefix cannot be made to have (see lines.cpp).
# Needs tools/wine/start.sh first.
set -euo pipefail
source "$(dirname "$0")/env.sh"
scenario=$(realpath "$1")
lines=$WINE_OUT/play.lines
"$WINE_ROOT/build/host/bin/vudizeri-wine-lines" "$scenario" >"$lines" || exit $?
cp "$WINE_PROGRAM" "$WINE_OUT/vudizeri.exe"
export DISPLAY=$(cat "$WINE_OUT/display")
end_ms=$(sed -n 's/^end //p' "$lines")
limit=$(( ${end_ms:-0} / 1000 + 60 ))
cd "$WINE_OUT"
timeout "$limit" "$WINE" vxcontrol.exe play.lines vudizeri.exe >play.trace 2>play.err || true
tr -d '\r' <play.trace
