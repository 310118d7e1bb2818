#!/usr/bin/env bash
# Ends every process of the prefix and its wineserver.
source "$(dirname "$0")/env.sh"
"$WINESERVER" -k >/dev/null 2>&1 || true
"$WINESERVER" -w >/dev/null 2>&1 || true
if [ -f "$WINE_OUT/xvfb.pid" ]; then
  kill "$(cat "$WINE_OUT/xvfb.pid")" >/dev/null 2>&1 || true
  rm -f "$WINE_OUT/xvfb.pid"
fi
