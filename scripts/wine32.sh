#!/usr/bin/env bash
# The Wine suites against the program we ship: the i686 build under Debian's 32-bit Wine, which this
# 64-bit machine runs through qemu's user mode. Sets up what it needs (binfmt_misc with qemu-i386 for
# 32-bit ELF programs, the i386 architecture, wine32:i386), builds the repairs of qemu's faults
# (tools/wine/qemu32), the i686 program, driver double, self-test and controller, makes a fresh
# 32-bit prefix (build/wine32/prefix, served by Wine's native 64-bit wineserver) and runs the Wine
# suites with WINE_ARCH=win32. The x86_64 suites (scripts/wine.sh) keep their own prefix.
#   scripts/wine32.sh [--machine | --prefix | --suites]
# --machine only readies the machine (binfmt_misc mounted, the i386 architecture added, no package
# installed, qemu not yet registered); --prefix also installs, registers, builds and makes the prefix;
# --suites only runs the suites on it. Where the machine cannot run 32-bit programs this way, or the
# registry lacks a package it needs, it says so loudly and prints "wine32: skipped" (exit 0).
set -euo pipefail
cd "$(dirname "$0")/.."
phase=${1:-all}
limit=${WINE32_TEST_LIMIT:-900}
skip() {
  echo "==================================================================" >&2
  echo "wine32: SKIPPED: $*" >&2
  echo "==================================================================" >&2
  echo "wine32: skipped"
  exit 0
}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
started=$(date +%s)
binfmt=/proc/sys/fs/binfmt_misc

if [ "$phase" != --suites ]; then
  [ "$(id -u)" -eq 0 ] || command -v sudo >/dev/null || skip "not root and no sudo: binfmt_misc cannot be set up"
  if [ ! -e "$binfmt/register" ]; then
    $sudo mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || skip "binfmt_misc cannot be mounted here"
  fi
  # setup.sh runs apt-get update when anything is missing, which a new architecture needs.
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  [ "$phase" != --machine ] || exit 0

  status=0
  scripts/setup.sh qemu-user wine wine64 wine32:i386 xvfb libasound2 gcc-multilib pulseaudio pulseaudio-utils ||
    status=$?
  [ "$status" -ne 3 ] || skip "the package registry lacks a package the 32-bit Wine suites need (named above)"
  [ "$status" -eq 0 ] || exit "$status"
  # 32-bit ELF programs through qemu-i386, registered with F (the interpreter is opened now, so it is
  # found from any root and by any process).
  if [ ! -e "$binfmt/qemu-i386" ]; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F' |
      $sudo tee "$binfmt/register" >/dev/null 2>&1 || skip "qemu-i386 cannot be registered in binfmt_misc"
  fi
  grep -qx enabled "$binfmt/qemu-i386" || skip "the qemu-i386 binfmt entry is disabled"
  probe=$(mktemp -d)
  echo 'int main(void) { return 42; }' >"$probe/probe.c"
  gcc -m32 -o "$probe/probe" "$probe/probe.c"
  status=0
  "$probe/probe" || status=$?
  rm -rf "$probe"
  [ "$status" -eq 42 ] || skip "a 32-bit program does not run here through qemu-i386 (status $status)"
  echo "wine32: set up in $(( $(date +%s) - started )) s"

  jobs=$(nproc)
  cmake --preset host >/dev/null
  cmake --build --preset host -j"$jobs"
  cmake --preset win32 >/dev/null
  cmake --build --preset win32 -j"$jobs"
fi
export WINE_ARCH=win32
if [ "$phase" != --suites ]; then
  # A fresh prefix each time: nothing left over from an earlier run decides the outcome.
  made=$(date +%s)
  timeout 600 tools/wine/install.sh
  echo "wine32: prefix made in $(( $(date +%s) - made )) s"
  [ "$phase" != --prefix ] || exit 0
fi
[ -d build/wine32/prefix ] || { echo "wine32: no prefix: run scripts/wine32.sh --prefix first" >&2; exit 1; }
grep -qsx enabled "$binfmt/qemu-i386" || skip "qemu-i386 is not registered: run scripts/wine32.sh --prefix first"
suite=$(date +%s)
status=0
tools/wine/conformance.sh || status=1
timeout "$limit" build/host/bin/vudizeri-tests --gtest_filter='Wine*' || status=$?
tools/wine/stop.sh
echo "wine32: suites ran in $(( $(date +%s) - suite )) s (limit $limit s); all in $(( $(date +%s) - started )) s"
exit $status
