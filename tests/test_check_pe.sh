#!/usr/bin/env bash
# scripts/check_pe.sh on small programs built here: a clean one passes; one holding a P6 instruction
# and one importing what the table lacks are refused, with the instruction, its address and the
# import named.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc() { i686-w64-mingw32-gcc -march=i386 -Os -mwindows -nostdlib -o "$work/$1.exe" "$work/$1.c" -lkernel32 -luser32; }
cat >"$work/clean.c" <<'C'
#include <windows.h>
void WinMainCRTStartup(void) { MessageBoxA(NULL, "t", "t", 0); ExitProcess(0); }
C
cat >"$work/cmov.c" <<'C'
#include <windows.h>
void WinMainCRTStartup(void) { int a = GetLastError(); __asm__ volatile("cmovne %%edx, %%eax" : "+a"(a) : : "edx"); ExitProcess(a); }
C
cat >"$work/sleep.c" <<'C'
#include <windows.h>
void WinMainCRTStartup(void) { Sleep(1); ExitProcess(0); }
C
for p in clean cmov sleep; do cc $p; done
fails=0
expect() {  # expect NAME STATUS TEXT: check_pe's exit status and a line of its output
  local out status=0
  out=$("$here/scripts/check_pe.sh" "$work/$1.exe" i386 2>&1) || status=$?
  if [ "$status" != "$2" ] || ! grep -Eq "$3" <<<"$out"; then
    echo "FAIL: $1: exit $status (expected $2), output:"; echo "$out"; fails=1
  else
    echo "ok: $1: $(grep -E "$3" <<<"$out" | head -1)"
  fi
}
expect clean 0 'instructions, all of the 80386'
expect cmov 1 'not an 80386 instruction at 0x[0-9a-f]+: cmovne +eax,edx'
expect sleep 1 'imports Sleep from kernel32.dll, which is not in scripts/imports.md'
exit $fails
