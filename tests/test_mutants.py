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


def test_left_out_mutant_is_built_alone():
    """A mutant the schema cannot hold is judged on a build of its own: its tree holds the source with
    only that mutant, the tests near it run first and then every other one, and the verdict is what
    those tests say (never "not run")."""
    constants = lib.named_constants([SAMPLE])
    toks, mutants = lib.derive("app/sample.cpp", SAMPLE, constants)
    for i, m in enumerate(mutants, 1):
        m.id = i
    step = [m for m in mutants if m.site.function == "Step"]
    note = [m for m in mutants if m.site.function == "Note"]
    check(len(step) > 2 and note, "the sample has mutants in Step and Note")
    m = step[1]
    # Tests that reach another mutant of Step come first, cheapest first; then all the others.
    reach = {step[0].id: [("near-slow", 2.0), ("near-fast", 0.5)], note[0].id: [("far", 0.1)]}
    probes = [{"name": n, "seconds": s} for n, s in (("far", 0.1), ("near-fast", 0.5), ("near-slow", 2.0), ("other", 0.2))]
    order = [n for n, _ in tool.alone_order(m, mutants, reach, probes)]
    check(order == ["near-fast", "near-slow", "far", "other"], "the order of the tests on a mutant alone: %s" % order)
    order = [n for n, _ in tool.alone_order(note[0], mutants, {}, probes)]
    check(order == ["far", "other", "near-fast", "near-slow"], "no near test: every test, cheapest first: %s" % order)

    with tempfile.TemporaryDirectory() as tmp:
        root, tree = os.path.join(tmp, "root"), os.path.join(tmp, "tree")
        for d in lib.PROGRAM_DIRS:
            os.makedirs(os.path.join(root, d))
        for part in tool.TREE_PARTS:
            if "." in part:
                open(os.path.join(root, part), "w").close()
            else:
                os.makedirs(os.path.join(root, part), exist_ok=True)
        with open(os.path.join(root, "app", "sample.cpp"), "w") as f:
            f.write(SAMPLE)
        with open(os.path.join(root, "driver", "other.cpp"), "w") as f:
            f.write("int Other;\n")
        tool.write_single_tree(root, tree, m, SAMPLE, toks)
        check(open(os.path.join(tree, "app", "sample.cpp")).read() == lib.apply_one(SAMPLE, toks, m),
              "the tree of a mutant alone holds the source with that mutant")
        check(open(os.path.join(tree, "driver", "other.cpp")).read() == "int Other;\n", "the other files as they are")
        check(not os.path.exists(os.path.join(tree, "app", "zz_mutant_switch.cpp")), "no mutant switch in it")

        # The verdicts, with the build and the test runs stood in for.
        tests = [{"name": n} for n in ("far", "near-fast", "near-slow", "other")]
        seen = []

        def built(*_):
            return "folder", ""

        def fails_on(name, hung=False):
            def attack(mm, order, ts, timeout):
                seen.append([n for n, _ in order])
                return (name, hung, "") if name else (None, False, "")
            return attack
        args = (root, tmp, m, SAMPLE, toks, mutants, reach, probes, 2, 60)
        v = tool.judge_alone(*args, build=built, attack_fn=fails_on("near-slow"), list_tests=lambda f: tests)
        check(v == ("caught", "near-slow (built alone)"), "a failing test catches the mutant built alone: %s" % (v,))
        check(seen[-1][:2] == ["near-fast", "near-slow"], "the near tests were tried first")
        v = tool.judge_alone(*args, build=built, attack_fn=fails_on("other", True), list_tests=lambda f: tests)
        check(v == ("caught", "other (built alone) (hung)"), "a hang is said so: %s" % (v,))
        v = tool.judge_alone(*args, build=built, attack_fn=fails_on(None), list_tests=lambda f: tests)
        check(v[0] == "survived" and "4 host tests pass" in v[1], "all tests pass: survived for real: %s" % (v,))
        v = tool.judge_alone(*args, build=lambda *_: (None, "x.cpp:1: error: no\nlink failed"),
                             attack_fn=fails_on(None), list_tests=lambda f: tests)
        check(v == ("did not build", "link failed"), "a build that fails: did not build: %s" % (v,))


for test in (test_schema_matches_each_mutant, test_program_list_is_deterministic, test_unreadable_file_is_skipped,
             test_report_line, test_left_out_mutant_is_built_alone):
    test()
print("%d failed" % len(failures) if failures else "all passed")
sys.exit(1 if failures else 0)
