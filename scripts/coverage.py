#!/usr/bin/env python3
"""Line and branch coverage of the program's code (app/, driver/, speaker/, notify/) by the host tests.

Reads the counters of the coverage build (preset "coverage", which scripts/coverage.sh builds and
runs) through gcov's JSON output, and prints per program file the lines and branches executed, then
every line with a branch never taken or never run. Branches that cannot be taken, and lines that
cannot run, are listed in tests/coverage.unreachable, each with its reason: they are marked, and the
check fails (exit 1) only on a branch not taken or a line not run that is not listed there, or on a
listed line that no longer has one.
"""

import gzip
import json
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAM_DIRS = ("app", "driver", "speaker", "notify")
UNREACHABLE = os.path.join("tests", "coverage.unreachable")


def gcov_json(build):
    """Every program source's gcov record: {relative path: {line: (count, [branch counts])}}."""
    build = os.path.abspath(build)
    objdir = os.path.join(build, "CMakeFiles", "program.dir")
    out = {}
    for d in PROGRAM_DIRS:
        base = os.path.join(objdir, d)
        if not os.path.isdir(base):
            continue
        for name in sorted(os.listdir(base)):
            if not name.endswith(".gcno"):
                continue
            p = subprocess.run(["gcov", "--json-format", "--stdout", "--branch-probabilities",
                                os.path.join(base, name)], capture_output=True, cwd=build)
            if p.returncode != 0:
                raise SystemExit("coverage: gcov failed on %s: %s" % (name, p.stderr.decode()[-500:]))
            text = p.stdout
            if text[:2] == b"\x1f\x8b":
                text = gzip.decompress(text)
            for chunk in text.decode().splitlines():
                if not chunk.strip():
                    continue
                data = json.loads(chunk)
                for f in data["files"]:
                    path = os.path.relpath(os.path.realpath(os.path.join(data.get("current_working_directory", build), f["file"])), ROOT)
                    if path.split("/")[0] not in PROGRAM_DIRS:
                        continue
                    lines = out.setdefault(path, {})
                    for ln in f["lines"]:
                        n = ln["line_number"]
                        count, branches = lines.get(n, (0, []))
                        counts = [b["count"] for b in ln.get("branches", []) if not b.get("throw")]
                        if branches and len(branches) == len(counts):
                            counts = [a + b for a, b in zip(branches, counts)]
                        lines[n] = (count + ln["count"], counts or branches)
    return out


def read_unreachable(root):
    """`FILE | the line's text | reason`, one a line."""
    out, bad = {}, []
    path = os.path.join(root, UNREACHABLE)
    if not os.path.exists(path):
        return out, bad
    with open(path, encoding="utf-8") as f:
        for n, line in enumerate(f, 1):
            if not line.strip() or line.startswith("#"):
                continue
            parts = [p.strip() for p in line.rstrip("\n").split(" | ")]
            if len(parts) != 3 or not parts[2]:
                bad.append("%s:%d: expected 'FILE | line text | reason'" % (UNREACHABLE, n))
                continue
            out[(parts[0], " ".join(parts[1].split()))] = parts[2]
    return out, bad


def report(cov, root, unreachable):
    rows, missing, marked, used = [], [], [], set()
    for path in sorted(cov):
        with open(os.path.join(root, path), encoding="latin-1") as f:
            src = f.read().splitlines()
        lines = cov[path]
        lt = sum(1 for c, _ in lines.values() if c > 0)
        bt = sum(sum(1 for b in br if b > 0) for _, br in lines.values())
        bn = sum(len(br) for _, br in lines.values())
        rows.append((path, lt, len(lines), bt, bn))
        for n in sorted(lines):
            c, br = lines[n]
            text = " ".join(src[n - 1].split()) if n <= len(src) else ""
            if c == 0:
                what = "%s:%d: line never run: %s" % (path, n, text)
                if (path, text) in unreachable:
                    used.add((path, text))
                    marked.append(what + "\n    cannot be reached: " + unreachable[(path, text)])
                else:
                    missing.append(what)
            untaken = sum(1 for b in br if b == 0)
            if untaken:
                key = (path, text)
                what = "%s:%d: %d of %d branches never taken: %s" % (path, n, untaken, len(br), text)
                if key in unreachable:
                    used.add(key)
                    marked.append(what + "\n    cannot be reached: " + unreachable[key])
                else:
                    missing.append(what)
    return rows, missing, marked, used


def pct(a, b):
    return "%5.1f%%" % (100.0 * a / b) if b else "    -"


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "coverage")
    cov = gcov_json(build)
    if not cov:
        raise SystemExit("coverage: no counters under %s (run scripts/coverage.sh)" % build)
    unreachable, bad = read_unreachable(ROOT)
    for b in bad:
        print("coverage: " + b)
    rows, missing, marked, used = report(cov, ROOT, unreachable)
    width = max(len(r[0]) for r in rows)
    print("%-*s %15s %8s %15s %8s" % (width, "file", "lines", "", "branches", ""))
    for path, lt, ln, bt, bn in rows:
        print("%-*s %7d of %4d %8s %7d of %4d %8s" % (width, path, lt, ln, pct(lt, ln), bt, bn, pct(bt, bn)))
    tl, tn = sum(r[1] for r in rows), sum(r[2] for r in rows)
    tb, tbn = sum(r[3] for r in rows), sum(r[4] for r in rows)
    print("%-*s %7d of %4d %8s %7d of %4d %8s" % (width, "total", tl, tn, pct(tl, tn), tb, tbn, pct(tb, tbn)))
    for m in marked:
        print(m)
    for m in missing:
        print(m)
    stale = [k for k in unreachable if k not in used]
    for k in stale:
        print("coverage: %s lists a line with no branch left untaken: %s | %s" % (UNREACHABLE, k[0], k[1]))
    print("coverage: %d lines of %d, %d branches of %d; %d lines listed as unreachable, %d lines with something "
          "not run that is not listed" % (tl, tn, tb, tbn, len(marked), len(missing)))
    return 1 if missing or stale or bad else 0


if __name__ == "__main__":
    sys.exit(main())
