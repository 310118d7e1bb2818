#!/usr/bin/env bash
# Every test: the host build's tests, the same under Address- and UndefinedBehaviorSanitizer, the
# threading tests under ThreadSanitizer, the fault sweep (counted as one test), a bounded fuzz run,
# both Windows builds with a check of what they import, the Win32 conformance suite in the world and
# under Wine, the x86_64 program under 64-bit Wine and the shipped i686 program under 32-bit Wine
# (through qemu's user mode) against the world's scenarios.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)
passed=0 failed=0
for preset in host host-asan host-tsan; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  log=$(mktemp)
  status=0
  # The Wine suites need Wine and the x86_64 program: they run at the end, through scripts/wine.sh.
  ctest --preset "$preset" -j"$jobs" -E '^Wine' 2>&1 | tee "$log" || status=$?
  total=$(sed -nE 's/.*tests passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1 \2/p' "$log" | tail -n 1)
  rm -f "$log"
  [ -n "$total" ] || { echo "test.sh: $preset ran no test" >&2; exit 1; }
  set -- $total
  failed=$((failed + $1)) passed=$((passed + $2 - $1))
  [ "$status" -eq 0 ] || { echo "$passed passed, $failed failed"; exit 1; }
done
# The whole sweep (N = 8, every bundled scenario): 1.5 to 2.5 minutes on this busy 2-core machine.
echo "== sweep: every platform call failed at each of its first eight occurrences and its last, one per run"
status=0
scripts/sweep.sh --nth 8 || status=$?
if [ "$status" -ne 0 ]; then
  failed=$((failed + 1))
  echo "$passed passed, $failed failed"
  exit 1
fi
passed=$((passed + 1))
echo "== fuzz: random line-status records through the poll and the dialogs, 30 s"
scripts/fuzz.sh 30 2>&1 | tail -n 12
for preset in win32 win64; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
done
scripts/check_pe.sh build/win32/bin/vudizeri.exe i386
scripts/check_pe.sh build/win64/bin/vudizeri.exe x86-64
scripts/check_pe.sh build/win32/bin/vudizeri-conformance.exe i386 console
scripts/check_pe.sh build/win64/bin/vudizeri-conformance.exe x86-64 console
# Runs a Wine script and counts its tests; a script that cannot run here says "skipped".
wine_suites() {
  local script=$1 log status=0 p f
  log=$(mktemp)
  "$script" 2>&1 | tee "$log" || status=$?
  p=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?.*/\1/p' "$log" | tail -n 1)
  f=$(sed -nE 's/^\[  FAILED  \] ([0-9]+) tests?, listed below.*/\1/p' "$log" | tail -n 1)
  # The conformance suite under Wine counts as one test, as its run in the world does in ctest.
  if grep -Eq '^conformance: under Wine: passed' "$log"; then
    p=$((${p:-0} + 1))
  elif grep -Eq '^conformance: under Wine' "$log"; then
    f=$((${f:-0} + 1))
  fi
  if [ "$status" -eq 0 ] && grep -qx 'wine32: skipped' "$log"; then
    echo "test.sh: $script skipped (see above)"
    rm -f "$log"
    return 0
  fi
  rm -f "$log"
  passed=$((passed + ${p:-0})) failed=$((failed + ${f:-0}))
  if [ "$status" -ne 0 ] || [ -z "$p$f" ]; then
    [ "$failed" -gt 0 ] || failed=1
    return 1
  fi
}
status=0
echo "== wine: the real x86_64 program under Wine with the driver double"
wine_suites scripts/wine.sh || status=1
echo "== wine32: the shipped i686 program under 32-bit Wine through qemu's user mode"
wine_suites scripts/wine32.sh || status=1
echo "$passed passed, $failed failed"
exit $status
