#!/usr/bin/env bash
# Checks a built program: a PE of the given machine and subsystem (gui, the default, or console).
#
# The program itself (gui) runs on Windows 95, 98, Me, NT 4, 2000 and XP, on the processors those
# systems ask for: its i386 build may hold only 80386 instructions (every code section is
# disassembled, and each other instruction is named with its address), and each function it
# imports must be in scripts/imports.md, the table of what the first releases of Windows 95 and
# NT 4.0 export. A console program (the conformance suite, a test tool) may import only the
# system's own DLLs and the C runtime DLL. Neither ever imports the telephony library: the program
# loads it at run time.
set -euo pipefail
exe=$1 machine=$2 subsystem=${3:-gui}
here=$(cd "$(dirname "$0")" && pwd)
table=$here/imports.md
dump=$(x86_64-w64-mingw32-objdump -p "$exe")
fail() { echo "check_pe: $exe: $*" >&2; exit 1; }
grep -q "file format pei-$machine" <<<"$dump" || fail "not a pei-$machine image"
case $subsystem in
  gui) code=00000002 ;;
  console) code=00000003 ;;
  *) fail "unknown subsystem $subsystem" ;;
esac
grep -Eq "^Subsystem[[:space:]]+$code" <<<"$dump" || fail "not a $subsystem-subsystem program"
imports=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$dump")
[ -n "$imports" ] || fail "no imports found"

if [ "$subsystem" = console ]; then
  allowed=" kernel32.dll user32.dll gdi32.dll advapi32.dll winmm.dll rasapi32.dll msvcrt.dll "
  for dll in $imports; do
    case "$allowed" in *" $dll "*) ;; *) fail "imports $dll" ;; esac
  done
  echo "check_pe: $exe: pei-$machine, $subsystem subsystem, imports:" $imports
  exit 0
fi

# The 80386's own instructions (Intel names, as objdump -M intel prints them). Nothing of the 486
# (bswap, cmpxchg, xadd, invlpg...), the Pentium (cpuid, rdtsc, cmpxchg8b...) or the P6 (cmov*,
# fcomi, the long nop 0F 1F...), no MMX or SSE register, and no x87 instruction either: a 386DX
# need not have a 387 beside it, and the program computes nothing in floating point.
if [ "$machine" = i386 ]; then
  i386_set="aaa aad aam aas adc add and arpl bound bsf bsr bt btc btr bts call cbw cdq clc cld cli
    clts cmc cmp cmps cmpsb cmpsd cmpsw cwd cwde daa das dec div enter hlt idiv imul in inc ins insb
    insd insw int int3 into iret iretd ja jae jb jbe jc jcxz je jecxz jg jge jl jle jmp jna jnae jnb
    jnbe jnc jne jng jnge jnl jnle jno jnp jns jnz jo jp jpe jpo js jz lahf lar lds lea leave les lfs
    lgdt lgs lidt lldt lmsw lods lodsb lodsd lodsw loop loope loopne loopnz loopz lsl lss ltr mov
    movs movsb movsd movsw movsx movzx mul neg nop not or out outs outsb outsd outsw pop popa popad
    popf popfd push pusha pushad pushf pushfd rcl rcr ret retf rol ror sahf sal sar sbb scas scasb
    scasd scasw seta setae setb setbe setc sete setg setge setl setle setna setnae setnb setnbe
    setnc setne setng setnge setnl setnle setno setnp setns setnz seto setp setpe setpo sets setz
    sgdt shl shld shr shrd sidt sldt smsw stc std sti stos stosb stosd stosw str sub test verr verw
    wait xchg xlat xlatb xor"
  prefixes="rep repe repz repne repnz lock cs ds es fs gs ss data16 addr16"
  sections=$(x86_64-w64-mingw32-objdump -h "$exe" | awk '/^ *[0-9]+ / {name=$2; size=$3; vma=$4}
    /CODE/ {print name, size, vma}')
  [ -n "$sections" ] || fail "no code section found"
  checked=0 refused=
  while read -r name size vma; do
    start=$((16#$vma)) stop=$((16#$vma + 16#$size))
    # The linker ends the code with the empty lists of constructors and destructors (-1, 0, -1, 0):
    # data, not instructions.
    tail=$(x86_64-w64-mingw32-objdump -s -j "$name" --start-address=$((stop - 16)) \
             --stop-address=$stop "$exe" | awk '/^ [0-9a-f]+ / {printf "%s%s%s%s", $2, $3, $4, $5}')
    [ "$tail" = ffffffff00000000ffffffff00000000 ] && stop=$((stop - 16))
    listing=$(i686-w64-mingw32-objdump -d -M intel --no-show-raw-insn -j "$name" \
                --start-address=$start --stop-address=$stop "$exe")
    result=$(awk -v set="$i386_set" -v prefixes="$prefixes" '
      BEGIN { n = split(set, s, /[ \n]+/); for (i = 1; i <= n; i++) ok[s[i]] = 1
              n = split(prefixes, p, " "); for (i = 1; i <= n; i++) prefix[p[i]] = 1 }
      /^ *[0-9a-f]+:\t/ {
        address = $1; sub(/:$/, "", address); line = $0; sub(/^ *[0-9a-f]+:\t/, "", line)
        count++
        n = split(line, w, /[ ,]+/); i = 1
        while (i < n && (w[i] in prefix)) i++
        bad = !(w[i] in ok) || line ~ /\(bad\)/ || line ~ /[^a-z](x|y)?mm[0-9]/ \
              || (w[i] == "nop" && i < n)
        if (bad) { printf "0x%s: %s\n", address, line; found++ }
      }
      END { printf "checked %d\n", count; exit found > 0 }' <<<"$listing") || {
      grep -v '^checked' <<<"$result" | sed "s|^|check_pe: $exe: not an 80386 instruction at |" >&2
      echo "check_pe: $exe: code section $name holds instructions the 80386 does not have" >&2
      refused=1
      continue
    }
    checked=$((checked + ${result#checked }))
  done <<<"$sections"
  [ -n "$refused" ] || echo "check_pe: $exe: $checked instructions, all of the 80386"
fi

# Every import, by DLL and name, must be in the table.
listed=$(awk -F'|' '/^\| [A-Za-z_]+ \| [a-z0-9]+\.dll \|/ {
  gsub(/ /, "", $2); gsub(/ /, "", $3); print $3 " " $2 }' "$table")
[ -n "$listed" ] || fail "no functions listed in $table"
functions=$(awk '/DLL Name:/ {dll = tolower($3)} /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ {print dll, $3}
  /^\t[0-9a-f]+\t +[0-9]+ *$/ {print dll, "#" $2}' <<<"$dump")
unlisted=$(grep -vxFf <(printf '%s\n' "$listed") <<<"$functions" || true)
if [ -n "$unlisted" ]; then
  sed "s|^\([^ ]*\) \(.*\)|check_pe: $exe: imports \2 from \1, which is not in scripts/imports.md|" \
    <<<"$unlisted" >&2
  fail "imports what the first releases of Windows 95 and NT 4.0 may lack"
fi
[ -z "${refused:-}" ] || exit 1
echo "check_pe: $exe: pei-$machine, $subsystem subsystem, $(wc -l <<<"$functions") functions, all in" \
  "scripts/imports.md, from:" $imports
