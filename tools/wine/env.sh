# Sourced by the Wine scripts: where things are and how Wine is run.
# WINE_ARCH: win64 (default: the x86_64 program under 64-bit Wine, prefix in build/wine) or win32 (the
# shipped i686 program under 32-bit Wine through qemu's user mode, prefix in build/wine32; see
# scripts/wine32.sh). The two prefixes, their servers and their outputs are kept apart.
# WINE_ROOT: the source tree; WINE_OUT: the output directory; WINEPREFIX: a prefix of our own there.
export WINE_ARCH=${WINE_ARCH:-win64}
WINE_ROOT=${WINE_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
export WINEDEBUG=${WINEDEBUG:--all}
# No browser engine or .NET runtime offers: nothing may wait for an answer.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ "$WINE_ARCH" = win32 ]; then
  WINE_OUT=${WINE_OUT:-$WINE_ROOT/build/wine32}
  export WINEARCH=win32
  WINE=${WINE:-/usr/lib/wine/wine}
  # Wine's native 64-bit server: only the 32-bit processes run under qemu.
  WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver64}
  export WINESERVER
  WINE_CC=i686-w64-mingw32-gcc
  WINE_DRIVER_ENTRY=_DriverEntry@8
  WINE_PROGRAM=$WINE_ROOT/build/win32/bin/vudizeri.exe
  # The repairs of qemu's faults (tools/wine/qemu32): the dynamic linker picks the i386 library for
  # the 32-bit processes and the x86_64 one (active only in the wineserver) for the others.
  # They are built here, before any process is told to load them.
  for _lib in i386-linux-gnu:-m32:guest x86_64-linux-gnu:-m64:server; do
    IFS=: read -r _dir _flag _source <<<"$_lib"
    _so=$WINE_OUT/qemu32/lib/$_dir/libvxq32.so _c=$WINE_ROOT/tools/wine/qemu32/$_source.c
    if [ ! -f "$_so" ] || [ "$_c" -nt "$_so" ] || [ "$WINE_ROOT/tools/wine/qemu32/marker.h" -nt "$_so" ]; then
      mkdir -p "${_so%/*}"
      # The i386 library's signal wrapper runs with whatever %gs the signal found: no stack protector.
      LD_PRELOAD= gcc "$_flag" -std=gnu11 -O2 -Wall -Wextra -Werror -fPIC -shared -fno-stack-protector \
          -I"$WINE_ROOT/tools/wine/qemu32" -o "$_so" "$_c" || return 1
    fi
  done
  export LD_PRELOAD="$WINE_OUT/qemu32/\$LIB/libvxq32.so"
else
  WINE_OUT=${WINE_OUT:-$WINE_ROOT/build/wine}
  export WINEARCH=win64
  WINE=${WINE:-/usr/lib/wine/wine64}
  WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}
  [ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver)
  WINE_CC=x86_64-w64-mingw32-gcc
  WINE_DRIVER_ENTRY=DriverEntry
  WINE_PROGRAM=$WINE_ROOT/build/win64/bin/vudizeri.exe
fi
export WINEPREFIX=${WINEPREFIX:-$WINE_OUT/prefix}
# Sound: Wine's PulseAudio driver (the prefix's HKCU\Software\Wine\Drivers Audio = pulse) through the
# sound server that pulse.sh starts for this prefix; the harness's own clients (parec, pacat, pactl)
# use the same socket.
export PULSE_SERVER=unix:$WINE_OUT/pulse/native
# Wine's PulseAudio driver keeps only some 30 ms queued in the server: a Wine thread not scheduled for
# longer makes the server insert silence. On this shared machine that happens many times a second,
# so the runs put Wine (start.sh: the wineserver and the driver double's process; play.sh: the
# controller and the program), the sound server and the harness's pacat and parec under chrt -r
# $WINE_RTPRIO. WINE_RTPRIO= (empty) runs them at the ordinary priority.
export WINE_RTPRIO=${WINE_RTPRIO-10}
