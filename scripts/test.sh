#!/usr/bin/env bash
# Every test: the host build's tests, the same under Address- and UndefinedBehaviorSanitizer, the
# threading tests under ThreadSanitizer, the fault sweep (counted as one test), a bounded fuzz run,
# both Windows builds with a check of what they import, the Win32 conformance suite in the world and
# under Wine, the x86_64 program under 64-bit Wine and the shipped i686 program under 32-bit Wine
# (through qemu's user mode) against the world's scenarios.
#
# Wine's packages install in the background while the host build compiles, and both Wine prefixes
# are made in the background while the host lane (host tests, ThreadSanitizer, AddressSanitizer, the
# sweep, fuzz) runs. The Wine suites then run alone, one architecture after the other: they check
# every sample through a real sound server at the pace of real time. Each stage's time is printed at
# the end; the last line is "N passed, N failed[, N skipped]".
set -euo pipefail
cd "$(dirname "$0")/.."
started=$(date +%s)
logs=build/logs
rm -rf "$logs"
mkdir -p "$logs"
jobs=$(nproc)
passed=0 failed=0 skipped=0
: >"$logs/times"

# busy: the processor time the whole machine has spent so far, in seconds (every core's time that
# was neither idle nor waiting for a disk, from /proc/stat's ticks of 1/100 s).
busy() { awk '/^cpu /{printf "%d\n", ($2 + $3 + $4 + $7 + $8 + $9) / 100}' /proc/stat; }
started_busy=$(busy)
# stage NAME COMMAND...: runs COMMAND, noting under NAME its wall time and the processor time the
# machine spent meanwhile (with whatever ran beside it).
stage() {
  local name=$1 t=$(date +%s) b=$(busy) status=0
  shift
  "$@" || status=$?
  printf '%-34s %4d s %6d s\n' "$name" $(( $(date +%s) - t )) $(( $(busy) - b )) >>"$logs/times"
  return $status
}
times_table() {
  echo "== time per stage: wall, and the machine's processor time meanwhile (stages of the two lanes overlap)"
  cat "$logs/times"
  printf '%-34s %4d s %6d s (%d cores)\n' "total" $(( $(date +%s) - started )) $(( $(busy) - started_busy )) "$jobs"
}
finish() {
  times_table
  if [ "$skipped" -gt 0 ]; then echo "$passed passed, $failed failed, $skipped skipped"
  else echo "$passed passed, $failed failed"; fi
  [ "$failed" -eq 0 ] || exit 1
  exit 0
}

# ctest_preset PRESET: builds what PRESET runs, runs its ctest and counts the tests (the Wine suites
# need Wine and the Windows programs: they run in the Wine lane).
ctest_preset() {
  local preset=$1 log=$logs/ctest-$1.log status=0 target=()
  # The sanitizer builds build what their tests run (no benchmarks).
  case $preset in
    host-tsan) target=(--target vudizeri-tests) ;;
    host-asan) target=(--target vudizeri-tests vudizeri-conformance vudizeri-wine-lines) ;;
  esac
  # The host build is made above (the Wine prefixes' scripts build in it meanwhile: it is not
  # configured again here).
  if [ "$preset" != host ]; then
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j"$jobs" "${target[@]}"
  fi
  ctest --preset "$preset" -j"$jobs" -E '^Wine' >"$log" 2>&1 || status=$?
  # The summary and the list of failed tests after it (the whole log when the run failed, below).
  sed -n '/tests passed/,$p' "$log"
  local total
  total=$(sed -nE 's/.*tests passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1 \2/p' "$log" | tail -n 1)
  [ -n "$total" ] || { cat "$log"; echo "test.sh: $preset ran no test" >&2; failed=$((failed + 1)); return 1; }
  set -- $total
  failed=$((failed + $1)) passed=$((passed + $2 - $1))
  [ "$status" -eq 0 ] || cat "$log"
  return $status
}

# wine_count LOG: counts the tests of a Wine lane's log (its gtest suites, and the conformance suite
# under Wine as one test, as its run in the world is in ctest); a script that could not run here
# printed "wine: skipped" or "wine32: skipped" with its reason, and counts as one skipped suite.
wine_count() {
  local log=$1 status=$2 p f
  if grep -Eqx 'wine(32)?: skipped' "$log"; then
    grep -E 'SKIPPED' "$log" | head -n 1
    skipped=$((skipped + 1))
    return 0
  fi
  p=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?.*/\1/p' "$log" | tail -n 1)
  f=$(sed -nE 's/^\[  FAILED  \] ([0-9]+) tests?, listed below.*/\1/p' "$log" | tail -n 1)
  if grep -Eq '^conformance: under Wine: passed' "$log"; then
    p=$((${p:-0} + 1))
  elif grep -Eq '^conformance: under Wine' "$log"; then
    f=$((${f:-0} + 1))
  fi
  passed=$((passed + ${p:-0})) failed=$((failed + ${f:-0}))
  if [ "$status" -ne 0 ] && [ "${f:-0}" -eq 0 ]; then
    failed=$((failed + 1))
  elif [ "$status" -eq 0 ] && [ -z "$p$f" ]; then
    echo "test.sh: $log ran no test" >&2
    failed=$((failed + 1))
  fi
}

# --- Packages and the builds every lane needs --------------------------------------------------
echo "== setup"
# A package the registry does not have is named there (exit 3); what needs it fails or skips later.
stage setup scripts/setup.sh clang || [ $? -eq 3 ]
# The machine side of 32-bit Wine (binfmt_misc, the i386 architecture) before any install, so that one
# apt-get update covers both architectures; qemu is registered only after the 64-bit prefix is made.
stage "wine32 machine" scripts/wine32.sh --machine >"$logs/wine32-machine.log" 2>&1 || true
cat "$logs/wine32-machine.log"
wine_packages=(qemu-user wine wine64 wine32:i386 xvfb libasound2 gcc-multilib pulseaudio pulseaudio-utils)
grep -qx 'wine32: skipped' "$logs/wine32-machine.log" && wine_packages=(wine wine64 xvfb libasound2 pulseaudio pulseaudio-utils)
# Wine's packages install in the background while the host build compiles; unknown ones (exit 3) are
# named there, and each Wine script finds them missing again and skips.
( stage "packages for Wine (background)" scripts/setup.sh "${wine_packages[@]}" ) >"$logs/packages.log" 2>&1 &
packages=$!

status=0
for preset in host win64 win32; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  stage "build $preset" cmake --build --preset "$preset" -j"$jobs" || status=1
done
for exe in win32/bin/vudizeri.exe:i386 win64/bin/vudizeri.exe:x86-64 \
           win32/bin/vudizeri-conformance.exe:i386:console win64/bin/vudizeri-conformance.exe:x86-64:console; do
  IFS=: read -r path machine subsystem <<<"$exe"
  scripts/check_pe.sh "build/$path" "$machine" "${subsystem:-gui}" || status=1
done
if [ "$status" -ne 0 ]; then failed=$((failed + 1)); finish; fi
wait "$packages" || true
cat "$logs/packages.log"

# --- The Wine prefixes, made in the background while the host lane runs --------------------------
wine_prefixes() {
  local s64=0 s32=0
  stage "wine prefix (x86_64)" scripts/wine.sh --prefix >"$logs/wine.log" 2>&1 || s64=$?
  # With qemu registered, 64-bit wineboot would also set up the prefix's 32-bit side through qemu:
  # the 32-bit prefix (which registers it) comes second.
  stage "wine32 prefix (i686)" scripts/wine32.sh --prefix >"$logs/wine32.log" 2>&1 || s32=$?
  echo "$s64" >"$logs/wine.status"
  echo "$s32" >"$logs/wine32.status"
}
wine_prefixes &
prefixes=$!

# --- The host lane ----------------------------------------------------------------------------------
host_lane() {
  echo "== host tests"
  stage "host tests" ctest_preset host || true
  echo "== host-tsan: the threading tests under ThreadSanitizer"
  stage "host-tsan build and tests" ctest_preset host-tsan || true
  echo "== host-asan: every host test under AddressSanitizer and UndefinedBehaviorSanitizer"
  stage "host-asan build and tests" ctest_preset host-asan || true
  # The whole sweep (N = 8, every bundled scenario), on the ASan+UBSan build's runner.
  echo "== sweep: every platform call failed at each of its first eight occurrences and its last, one per run"
  if stage sweep scripts/sweep.sh --nth 8; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
  echo "== fuzz: random line-status records through the poll and the dialogs, 30 s"
  if ! stage "fuzz build and run" scripts/fuzz.sh 30 >"$logs/fuzz.log" 2>&1; then
    tail -n 40 "$logs/fuzz.log"
    failed=$((failed + 1))
  elif grep -qx 'fuzz: skipped' "$logs/fuzz.log"; then
    grep SKIPPED "$logs/fuzz.log"
    skipped=$((skipped + 1))
  else
    tail -n 12 "$logs/fuzz.log"
    passed=$((passed + 1))
  fi
  echo "$passed $failed $skipped" >"$logs/host.counts"
}
( passed=0 failed=0 skipped=0; host_lane ) || true
read -r p f s <"$logs/host.counts" || { p=0 f=1 s=0; }
passed=$((passed + p)) failed=$((failed + f)) skipped=$((skipped + s))

# --- The Wine suites, one architecture after the other on an otherwise quiet machine -------------
# They compare every sample heard and recorded through a real sound server at the pace of real time:
# beside the host lane's builds, or beside each other, Wine's capture loses samples now and then.
wait "$prefixes" || true
for arch in wine wine32; do
  status=$(cat "$logs/$arch.status" 2>/dev/null || echo 1)
  if [ "$status" -eq 0 ] && ! grep -Eqx 'wine(32)?: skipped' "$logs/$arch.log"; then
    stage "$arch suites" "scripts/$arch.sh" --suites >>"$logs/$arch.log" 2>&1 || status=$?
  fi
  case $arch in
    wine) echo "== wine: the real x86_64 program under Wine with the driver double" ;;
    wine32) echo "== wine32: the shipped i686 program under 32-bit Wine through qemu's user mode" ;;
  esac
  cat "$logs/$arch.log"
  wine_count "$logs/$arch.log" "$status"
done
finish
