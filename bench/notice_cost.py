#!/usr/bin/env python3
"""Instructions the program spends per speakerphone notice, measured with callgrind.

Runs the BM_SpeakerNotices benchmark (a 61-minute call through the sound card double) under
callgrind with collection switched on only around the notice handlers, in windows of notices after
1, 10 and 60 minutes of call. For each window it prints the instructions per notice of the program's
own code (functions defined in app/, driver/, speaker/, notify/) and with the platform calls they
make; then everything the program's code called, so that a heap allocation or a copy would show.

usage: bench/notice_cost.py [BUILD_DIR]     (default: build/host)
"""
import glob
import os
import re
import subprocess
import sys
import tempfile

PROGRAM_DIRS = ("/app/", "/driver/", "/speaker/", "/notify/")
WINDOW = 200  # notices per window, as in bench_speaker.cpp
SUSPECT = re.compile(r"malloc|calloc|realloc|operator new|memcpy|memmove|memset|strcpy")


def parse(path):
    """Returns (label, total Ir, program-only Ir, {callee: calls}) of one callgrind dump."""
    label, total, program = "", 0, 0
    callees = {}
    fl = fn = None
    after_call = False
    with open(path) as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("desc: Trigger: Client Request: "):
                label = line[len("desc: Trigger: Client Request: "):]
            elif line.startswith("summary:") or line.startswith("totals:"):
                total = max(total, int(line.split()[1]))
            elif line.startswith("fl="):
                fl = line[3:]
            elif line.startswith("fn="):
                fn = line[3:]
            elif line.startswith("cfn="):
                cfn = line[4:]
            elif line.startswith("calls="):
                after_call = True
                if fl and any(d in fl for d in PROGRAM_DIRS):
                    callees[cfn] = callees.get(cfn, 0) + int(line[6:].split()[0])
            elif line and (line[0].isdigit() or line[0] in "+-*"):
                parts = line.split()
                if after_call:
                    after_call = False  # the inclusive cost of a call, not the caller's own
                    continue
                if len(parts) >= 2 and fl and any(d in fl for d in PROGRAM_DIRS):
                    program += int(parts[1])
    return label, total, program, callees


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build/host"
    bench = os.path.join(build, "bin", "vudizeri-bench")
    if not os.path.exists(bench):
        sys.exit(f"no {bench}: build the host preset first")
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "cg.out")
        subprocess.run(["valgrind", "--tool=callgrind", "--collect-atstart=no", "--compress-strings=no",
                        "--compress-pos=no", f"--callgrind-out-file={out}", bench,
                        "--benchmark_filter=BM_SpeakerNotices"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        dumps = sorted(glob.glob(out + ".*"), key=lambda p: int(p.rsplit(".", 1)[1]))
        rows = [parse(p) for p in dumps]
    rows = [r for r in rows if r[0]]
    print(f"{'window':34} {'program Ir/notice':>18} {'with platform calls':>20}")
    per_kind = {}
    all_callees = {}
    for label, total, program, callees in rows:
        print(f"{label:34} {program / WINDOW:18.1f} {total / WINDOW:20.1f}")
        per_kind.setdefault(label.split()[0], []).append(program / WINDOW)
        for k, v in callees.items():
            all_callees[k] = all_callees.get(k, 0) + v
    for kind, values in per_kind.items():
        spread = max(values) - min(values)
        print(f"{kind} notices: program instructions per notice {min(values):.1f} to {max(values):.1f} "
              f"(spread {spread:.1f}) from 1 to 60 minutes of call")
    print("functions the program's code calls:", ", ".join(sorted(all_callees)))
    suspects = [k for k in all_callees if SUSPECT.search(k)]
    print("heap allocations or copies by the program while streaming:", ", ".join(suspects) if suspects else "none")
    # Copying one record buffer (1,024 bytes) takes at least 64 loads and 64 stores of 16 bytes.
    most = max(v for vs in per_kind.values() for v in vs)
    print(f"most program instructions for one notice: {most:.1f} (copying one 1,024-byte buffer needs at least 128)")


if __name__ == "__main__":
    main()
