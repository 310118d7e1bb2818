#!/usr/bin/env bash
# Starts the prefix's sound server (pulse.sh), its screen and a persistent wineserver, and waits until
# the driver double's control device answers (services start it with the server; "sc start" covers a
# prefix whose services did not).
set -euo pipefail
source "$(dirname "$0")/env.sh"
[ -d "$WINEPREFIX" ] || "$(dirname "$0")/install.sh"
cp "$WINE_OUT/vxdouble.sys" "$WINEPREFIX/drive_c/windows/system32/drivers/vxdouble.sys"
"$(dirname "$0")/stop.sh"
# The sound server first: Wine's sound goes through it.
"$(dirname "$0")/pulse.sh" start
# A screen of our own for the program's windows: Xvfb picks a free display itself and writes its
# number (-displayfd), so that two prefixes started at the same moment never race for one display.
mkdir -p "$WINE_OUT/screen"
rm -f "$WINE_OUT/display.fd"
Xvfb -displayfd 3 -screen 0 1024x768x24 -fbdir "$WINE_OUT/screen" -nolisten tcp \
    3>"$WINE_OUT/display.fd" >"$WINE_OUT/xvfb.log" 2>&1 &
echo $! >"$WINE_OUT/xvfb.pid"
display=
for _ in $(seq 100); do
  display=$(tr -dc 0-9 <"$WINE_OUT/display.fd")
  [ -n "$display" ] && [ -e /tmp/.X11-unix/X$display ] && break
  sleep 0.1
done
[ -n "$display" ] || { echo "start.sh: Xvfb did not start (see $WINE_OUT/xvfb.log)" >&2; exit 1; }
echo ":$display" >"$WINE_OUT/display"
export DISPLAY=":$display"
# WINE_RTPRIO=N: the wineserver, and the driver double's process that services start with it, under
# chrt -r N (play.sh runs the program so too).
rt=()
[ -z "${WINE_RTPRIO:-}" ] || rt=(chrt -r "$WINE_RTPRIO")
"${rt[@]}" "$WINESERVER" -p >>"$WINE_OUT/wineserver.log" 2>&1
timeout 60 "${rt[@]}" "$WINE" sc start vxdouble >>"$WINE_OUT/start.log" 2>&1 || true
