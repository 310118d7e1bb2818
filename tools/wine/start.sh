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
# A screen of our own for the program's windows: Xvfb on the first free display from :90.
for n in $(seq 90 130); do
  [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || { display=$n; break; }
done
mkdir -p "$WINE_OUT/screen"
Xvfb ":$display" -screen 0 1024x768x24 -fbdir "$WINE_OUT/screen" -nolisten tcp >"$WINE_OUT/xvfb.log" 2>&1 &
echo $! >"$WINE_OUT/xvfb.pid"
echo ":$display" >"$WINE_OUT/display"
for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$display ] && break; sleep 0.1; done
export DISPLAY=":$display"
# WINE_RTPRIO=N: the wineserver, and the driver double's process that services start with it, under
# chrt -r N (play.sh runs the program so too).
rt=()
[ -z "${WINE_RTPRIO:-}" ] || rt=(chrt -r "$WINE_RTPRIO")
"${rt[@]}" "$WINESERVER" -p >>"$WINE_OUT/wineserver.log" 2>&1
timeout 60 "${rt[@]}" "$WINE" sc start vxdouble >>"$WINE_OUT/start.log" 2>&1 || true
