#!/usr/bin/env bash
# Builds the driver double and the controller with mingw-w64 (x86_64) into build/wine.
set -euo pipefail
source "$(dirname "$0")/env.sh"
mkdir -p "$WINE_OUT"
here=$WINE_ROOT/tools/wine
cc=x86_64-w64-mingw32-gcc
warn=(-Wall -Wextra -Werror -Wno-unused-parameter)

# A kernel-mode driver: no C runtime, native subsystem, entry DriverEntry.
$cc -std=gnu11 -O2 "${warn[@]}" -fno-builtin -I/usr/share/mingw-w64/include/ddk -I"$here/driver" \
    -nostdlib -nostartfiles -shared -Wl,--subsystem,native -Wl,--entry,DriverEntry \
    -o "$WINE_OUT/vxdouble.sys" "$here/driver/vxdouble.c" -lntoskrnl -lhal -lgcc

$cc -std=gnu11 -O2 "${warn[@]}" -I"$here/driver" -mconsole \
    -o "$WINE_OUT/vxselftest.exe" "$here/driver/selftest.c"

if [ -f "$here/controller/controller.c" ]; then
  $cc -std=gnu11 -O2 "${warn[@]}" -I"$here/driver" -mconsole \
      -o "$WINE_OUT/vxcontrol.exe" "$here/controller/controller.c" -luser32 -lgdi32 -ladvapi32 -lpsapi
fi
echo "built $WINE_OUT"
