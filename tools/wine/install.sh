#!/usr/bin/env bash
# A fresh Wine prefix under build/wine with the driver double installed as an auto-start kernel
# driver service: every time the prefix's wineserver starts, services start the driver with it.
# Wine's output goes to files, never into a pipe: a wine command that starts services hangs a pipe.
set -euo pipefail
source "$(dirname "$0")/env.sh"
"$(dirname "$0")/build.sh" >/dev/null
log=$WINE_OUT/install.log
: > "$log"

"$WINESERVER" -k >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
timeout 300 "$WINE" wineboot -i >>"$log" 2>&1
"$WINESERVER" -w

drivers=$WINEPREFIX/drive_c/windows/system32/drivers
mkdir -p "$drivers"
cp "$WINE_OUT/vxdouble.sys" "$drivers/vxdouble.sys"
cat > "$WINE_OUT/vxdouble.reg" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\vxdouble]
"Type"=dword:00000001
"Start"=dword:00000002
"ErrorControl"=dword:00000001
"ImagePath"="C:\\windows\\system32\\drivers\\vxdouble.sys"
"DisplayName"="Voice modem driver double"

; Wine's own desktop window on the Xvfb screen: Wine draws every frame, and no window waits for a
; window manager that is not there when it hides.
[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="1024x768"

; Sound through the PulseAudio server of tools/wine/pulse.sh, and no other driver.
[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Audio"="pulse"
REG
timeout 120 "$WINE" regedit /S "Z:${WINE_OUT//\//\\}\\vxdouble.reg" >>"$log" 2>&1
"$WINESERVER" -w
echo "prefix ready: $WINEPREFIX"
