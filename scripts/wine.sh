#!/usr/bin/env bash
# The Wine end-to-end tests, bounded in time: installs Wine, Xvfb and mingw-w64 from Debian when they
# are missing, builds the host tools and the x86_64 program, then runs the Wine suites (the driver
# double's contract, the fidelity of the world against the real program under Wine, and sound on
# ALSA's null device).
set -euo pipefail
cd "$(dirname "$0")/.."
limit=${WINE_TEST_LIMIT:-1500}
packages=(wine wine64 xvfb libasound2 gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "wine: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
scripts/setup.sh
jobs=$(nproc)
cmake --preset host >/dev/null
cmake --build --preset host -j"$jobs"
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j"$jobs"
# A fresh prefix each time: nothing left over from an earlier run decides the outcome.
timeout 600 tools/wine/install.sh
status=0
timeout "$limit" build/host/bin/vudizeri-tests --gtest_filter='Wine*' || status=$?
tools/wine/stop.sh
exit $status
