# Sourced by the Wine scripts: where things are and how Wine is run.
# WINE_ROOT: the source tree; WINE_OUT: build/wine under it; WINEPREFIX: a prefix of our own there.
WINE_ROOT=${WINE_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
WINE_OUT=${WINE_OUT:-$WINE_ROOT/build/wine}
export WINEPREFIX=${WINEPREFIX:-$WINE_OUT/prefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No browser engine or .NET runtime offers: nothing may wait for an answer.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver)
# Sound: ALSA's null device as Wine's output and input (no sound card needed): the standard ALSA
# configuration, then our own (tools/wine/asound.conf) making the null device the default.
export ALSA_CONFIG_PATH=${ALSA_CONFIG_PATH:-/usr/share/alsa/alsa.conf:$WINE_ROOT/tools/wine/asound.conf}
