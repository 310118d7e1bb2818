#!/usr/bin/env bash
# The long call under Wine on request: WineLongCall with WINE_LONG_CALL=1, a 10-minute speakerphone
# call restarted every minute, the machine loaded by two busy processes, Wine and the sound server
# under chrt -r 10. Runs on each architecture named (default: both), about 11 minutes each:
#   win64  the x86_64 program under 64-bit Wine (prefix build/wine)
#   win32  the shipped i686 program under 32-bit Wine through qemu (prefix build/wine32; needs the
#          machine set up by scripts/wine32.sh once, or the suite skips)
# A prefix already made by scripts/wine.sh or scripts/wine32.sh is used as it is.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
cmake --preset host >/dev/null
cmake --build --preset host -j"$jobs"
status=0
archs=("$@")
[ $# -gt 0 ] || archs=(win64 win32)
for arch in "${archs[@]}"; do
  cmake --preset "$arch" >/dev/null
  cmake --build --preset "$arch" -j"$jobs"
  prefix=build/wine/prefix
  [ "$arch" = win32 ] && prefix=build/wine32/prefix
  [ -d "$prefix" ] || WINE_ARCH=$arch timeout 600 tools/wine/install.sh
  WINE_ARCH=$arch WINE_LONG_CALL=1 timeout 1500 build/host/bin/vudizeri-tests --gtest_filter='WineLongCall.*' ||
    status=1
done
exit $status
