#!/usr/bin/env bash
# Builds the driver double, its self-test and the controller with mingw-w64 (x86_64, or i686 for
# WINE_ARCH=win32; env.sh builds the repairs of qemu's faults) into the output directory.
set -euo pipefail
source "$(dirname "$0")/env.sh"
mkdir -p "$WINE_OUT"
here=$WINE_ROOT/tools/wine
cc=$WINE_CC
warn=(-Wall -Wextra -Werror -Wno-unused-parameter)

# A kernel-mode driver: no C runtime, native subsystem, entry DriverEntry.
$cc -std=gnu11 -O2 "${warn[@]}" -fno-builtin -I/usr/share/mingw-w64/include/ddk -I"$here/driver" \
    -nostdlib -nostartfiles -shared -Wl,--subsystem,native -Wl,--entry,"$WINE_DRIVER_ENTRY" \
    -o "$WINE_OUT/vxdouble.sys" "$here/driver/vxdouble.c" -lntoskrnl -lhal -lgcc

$cc -std=gnu11 -O2 "${warn[@]}" -I"$here/driver" -mconsole \
    -o "$WINE_OUT/vxselftest.exe" "$here/driver/selftest.c"

$cc -std=gnu11 -O2 "${warn[@]}" -mconsole -o "$WINE_OUT/vxsoundprobe.exe" "$here/driver/soundprobe.c" -lwinmm

# The system library doubles the controller puts beside the program (tools/wine/doubles).
$cc -std=gnu11 -O2 "${warn[@]}" -shared -Wl,--kill-at -o "$WINE_OUT/vxrasapi32.dll" "$here/doubles/rasapi32.c"
$cc -std=gnu11 -O2 "${warn[@]}" -shared -Wl,--kill-at -DWITH_LOCATION_FUNCTION -o "$WINE_OUT/vxtapi32.dll" \
    "$here/doubles/tapi32.c"
$cc -std=gnu11 -O2 "${warn[@]}" -shared -Wl,--kill-at -DWITH_LOCATION_FUNCTION -DGENERIC_NAME_ONLY \
    -o "$WINE_OUT/vxtapi32-95.dll" "$here/doubles/tapi32.c"
$cc -std=gnu11 -O2 "${warn[@]}" -shared -Wl,--kill-at -o "$WINE_OUT/vxtapi32-nofunction.dll" "$here/doubles/tapi32.c"
$cc -std=gnu11 -O2 "${warn[@]}" -mwindows -o "$WINE_OUT/control.exe" "$here/doubles/control.c"

if [ -f "$here/controller/controller.c" ]; then
  $cc -std=gnu11 -O2 "${warn[@]}" -I"$here/driver" -mconsole \
      -o "$WINE_OUT/vxcontrol.exe" "$here/controller/controller.c" -luser32 -lgdi32 -ladvapi32 -lpsapi
fi
echo "built $WINE_OUT"
