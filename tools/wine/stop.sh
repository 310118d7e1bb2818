#!/usr/bin/env bash
# Ends every process of the prefix, its wineserver, its screen and its sound server.
source "$(dirname "$0")/env.sh"
"$WINESERVER" -k >/dev/null 2>&1 || true
"$WINESERVER" -w >/dev/null 2>&1 || true
if [ -f "$WINE_OUT/xvfb.pid" ]; then
  kill "$(cat "$WINE_OUT/xvfb.pid")" >/dev/null 2>&1 || true
  rm -f "$WINE_OUT/xvfb.pid"
fi
"$(dirname "$0")/pulse.sh" stop
