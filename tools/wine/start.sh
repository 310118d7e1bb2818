#!/usr/bin/env bash
# Starts a persistent wineserver for the prefix and waits until the driver double's control device
# answers (services start it with the server; "sc start" covers a prefix whose services did not).
set -euo pipefail
source "$(dirname "$0")/env.sh"
[ -d "$WINEPREFIX" ] || "$(dirname "$0")/install.sh"
cp "$WINE_OUT/vxdouble.sys" "$WINEPREFIX/drive_c/windows/system32/drivers/vxdouble.sys"
"$WINESERVER" -k >/dev/null 2>&1 || true
"$WINESERVER" -w >/dev/null 2>&1 || true
"$WINESERVER" -p >>"$WINE_OUT/wineserver.log" 2>&1
timeout 60 "$WINE" sc start vxdouble >>"$WINE_OUT/start.log" 2>&1 || true
