#!/usr/bin/env bash
# Checks a built program: a PE of the given machine and subsystem (gui, the default, or console) that
# imports only the system's own DLLs, and never the telephony library (it is loaded at run time).
set -euo pipefail
exe=$1 machine=$2 subsystem=${3:-gui}
dump=$(x86_64-w64-mingw32-objdump -p "$exe")
fail() { echo "check_pe: $exe: $*" >&2; exit 1; }
grep -q "file format pei-$machine" <<<"$dump" || fail "not a pei-$machine image"
case $subsystem in
  gui) code=00000002 ;;
  console) code=00000003 ;;
  *) fail "unknown subsystem $subsystem" ;;
esac
grep -Eq "^Subsystem[[:space:]]+$code" <<<"$dump" || fail "not a $subsystem-subsystem program"
allowed=" kernel32.dll user32.dll gdi32.dll advapi32.dll winmm.dll rasapi32.dll msvcrt.dll "
imports=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$dump")
[ -n "$imports" ] || fail "no imports found"
for dll in $imports; do
  case "$allowed" in *" $dll "*) ;; *) fail "imports $dll" ;; esac
done
# The telephony library is not among the allowed ones: the loop above refuses it as an import.
echo "check_pe: $exe: pei-$machine, $subsystem subsystem, imports:" $imports
