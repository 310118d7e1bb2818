#!/usr/bin/env python3
"""Checks of the mutation tool's own logic (scripts/mutants_lib.py, scripts/mutants.py).

The schema must behave, for every mutant it selects, exactly as the source with only that mutant in
it: a small function is compiled both ways and run on the same inputs. The list must be the same on
every derivation, a file that cannot be read must be named and skipped, and the report's last line
keeps its form.
"""

import os
import subprocess
import sys
import tempfile

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SOURCE, "scripts"))
import mutants as tool  # noqa: E402
import mutants_lib as lib  # noqa: E402

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAILED:", what)


SAMPLE = r'''
#define LIMIT 3
int Tick(int v);
static int Total;
static int Seen;

static void Note(int v)
{
    Total += v;
    Seen++;
}

int Step(int a, int b)
{
    int sum = a + b;
    if (a < b && b != LIMIT)
        Note(a);
    else
        Note(b);
    for (int k = 0; Tick(k) <= a; k++)
        Total = Total * 2 + 1;
    switch (sum) {
    case 2:
        return -1;
    default:
        break;
    }
    while (!(Tick(sum) > 10))
        sum += 4;
    return sum + Total + Seen * 100;
}
'''

MAIN = r'''
#include <stdio.h>
#include <stdlib.h>
int Step(int a, int b);
// Every loop of the sample asks this: a mutant that makes a loop endless ends the program the same
// way in the schema and alone.
int Tick(int v)
{
    static int ticks;
    if (++ticks > 100000) {
        printf("endless\n");
        exit(0);
    }
    return v;
}
int main(void)
{
    int inputs[][2] = {{0, 0}, {1, 1}, {1, 2}, {2, 3}, {3, 1}, {0, 5}};
    for (auto &in : inputs)
        printf("%d ", Step(in[0], in[1]));
    printf("\n");
    return 0;
}
'''


def compile_and_run(tmp, name, sources, env=None):
    exe = os.path.join(tmp, name)
    p = subprocess.run(["g++", "-std=c++17", "-O0", "-w", "-o", exe] + sources, capture_output=True, text=True)
    if p.returncode != 0:
        return None
    return run(exe, env)


def run(exe, env=None):
    try:
        return subprocess.run([exe], capture_output=True, text=True, env=env, timeout=3).stdout
    except subprocess.TimeoutExpired:
        return "hang"


def test_schema_matches_each_mutant():
    constants = lib.named_constants([SAMPLE])
    check(constants == {"LIMIT"}, "named constants: %s" % constants)
    toks, mutants = lib.derive("sample.cpp", SAMPLE, constants)
    kinds = {m.kind for m in mutants}
    for k in ("relational operator", "logical operator", "condition negated", "constant changed",
              "statement deleted", "statements swapped", "early return", "arithmetic operator"):
        check(k in kinds, "a mutant of kind %s in the sample" % k)
    for i, m in enumerate(mutants, 1):
        m.id = i
    with tempfile.TemporaryDirectory() as tmp:
        main = os.path.join(tmp, "main.cpp")
        with open(main, "w") as f:
            f.write(MAIN)
        switch = os.path.join(tmp, "switch.cpp")
        with open(switch, "w") as f:
            f.write(lib.RUNTIME % {"count": len(mutants)})
        schema = os.path.join(tmp, "schema.cpp")
        with open(schema, "w") as f:
            f.write(lib.Schema(SAMPLE, toks, mutants).emit())
        p = subprocess.run(["g++", "-std=c++17", "-O0", "-Wall", "-Wextra", "-Werror", "-Wno-parentheses",
                            "-o", os.path.join(tmp, "schema"), main, schema, switch], capture_output=True, text=True)
        check(p.returncode == 0, "the sample's schema compiles: " + p.stderr[-2000:])
        if p.returncode != 0:
            return
        original = subprocess.run([os.path.join(tmp, "schema")], capture_output=True, text=True,
                                  env=dict(os.environ, VUDIZERI_MUTANT="0")).stdout
        plain = compile_and_run(tmp, "plain", [main, os.path.join(tmp, "plain.cpp")]) if \
            open(os.path.join(tmp, "plain.cpp"), "w").write(SAMPLE) else None
        check(original == plain and original, "no mutant selected: the schema is the original (%r, %r)" % (original, plain))
        differ = 0
        for m in mutants:
            one = os.path.join(tmp, "one.cpp")
            with open(one, "w") as f:
                f.write(lib.apply_one(SAMPLE, toks, m))
            expected = compile_and_run(tmp, "one", [main, one])
            if expected is None:
                continue  # does not compile alone: the tool reports it as not built
            got = run(os.path.join(tmp, "schema"), dict(os.environ, VUDIZERI_MUTANT=str(m.id)))
            check(got == expected, "mutant %d (%s) in the schema behaves as alone: %r vs %r" % (m.id, m.key, got, expected))
            differ += got != original
        check(differ > len(mutants) // 2, "most mutants of the sample change its output (%d of %d)" % (differ, len(mutants)))
        # The probe: every place reached is written down once, by id.
        probe = os.path.join(tmp, "probe.txt")
        subprocess.run([os.path.join(tmp, "schema")], capture_output=True,
                       env=dict(os.environ, VUDIZERI_MUTANT="0", VUDIZERI_MUTANT_PROBE=probe))
        reached = open(probe).read().split()
        check(len(reached) == len(set(reached)) and len(reached) > len(mutants) // 2,
              "the probe names each reached place once (%d names)" % len(reached))


def test_program_list_is_deterministic():
    a = tool.derive_all(SOURCE)
    b = tool.derive_all(SOURCE)
    keys_a = [(m.id, m.key) for m in a[3]]
    keys_b = [(m.id, m.key) for m in b[3]]
    check(keys_a == keys_b and keys_a, "the same sources give the same list")
    check(len({k for _, k in keys_a}) == len(keys_a), "every mutant has its own key")
    check(not a[2], "every program file can be read: %s" % a[2])
    # A mutant named in the declared file exists in the list.
    declared, bad = tool.read_declared(SOURCE)
    check(not bad, "the declared file reads: %s" % bad)
    names = {k for _, k in keys_a}
    for key in declared:
        check(key in names, "declared mutant exists: %s" % key)


def test_unreadable_file_is_skipped():
    with tempfile.TemporaryDirectory() as tmp:
        for d in lib.PROGRAM_DIRS:
            os.makedirs(os.path.join(tmp, d))
        with open(os.path.join(tmp, "app", "good.cpp"), "w") as f:
            f.write("int F(int a) { return a < 2; }\n")
        with open(os.path.join(tmp, "app", "bad.cpp"), "w") as f:
            f.write("int G(int a) { return a; /* never closed\n")
        texts, parsed, skipped, mutants = tool.derive_all(tmp)
        check([s[0] for s in skipped] == ["app/bad.cpp"], "the unreadable file is named: %s" % skipped)
        check(list(parsed) == ["app/good.cpp"] and mutants, "the readable one still gives mutants")


def test_report_line():
    check(tool.summary_line(95, 100, 5, 0) == "mutants: 95 caught of 100 (5 equivalent), 0 survived", "summary line")
    t = tool.table([("app/x.cpp", 10, 8, 1, 1, 1)])
    check(t.splitlines()[0].split()[:3] == ["file", "mutants", "caught"] and "app/x.cpp" in t, "table")


for test in (test_schema_matches_each_mutant, test_program_list_is_deterministic, test_unreadable_file_is_skipped,
             test_report_line):
    test()
print("%d failed" % len(failures) if failures else "all passed")
sys.exit(1 if failures else 0)
