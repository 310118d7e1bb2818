#!/usr/bin/env python3
"""Mutation testing of the program against the host tests.

Derives the mutants of the program's sources (scripts/mutants_lib.py), compiles all of them into one
scratch build (build/mutants/), where each is selected at run time by VUDIZERI_MUTANT, learns once
which tests reach which mutant (VUDIZERI_MUTANT_PROBE), then runs each mutant against the tests that
reach it, cheapest first, until one fails. A mutant the schema cannot hold but that compiles alone
is built alone (build/mutants/alone-build) and every host test runs on it, those near it first.
Prints per file: mutants, caught, did not build, survived, declared equivalent; each survivor's
diff and the command that replays it; the time; and last
`mutants: N caught of M (E equivalent), S survived`. Exit status 0 when nothing survived, 1 when
something did, 2 when the build or the tests cannot run at all.
"""

import argparse
import concurrent.futures
import difflib
import hashlib
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mutants_lib as lib  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DECLARED = os.path.join("tests", "mutants.declared")
# The project, as the scratch build needs it (the program's folders are written as schemata).
TREE_PARTS = ["CMakeLists.txt", "CMakePresets.json", "cmake", "sim", "tools", "tests", "scenarios", "bench",
              "res", "fuzz", "scripts", "app/entry"]
# As the README's test command (the Wine suites run apart), less this tool's own check.
HOST_TESTS_EXCLUDE = re.compile(r"^Wine|^MutantsTool$")
SUITES = ("tsan", "wine")


def log(*a):
    print(*a, flush=True)


# ---- the mutants ----

def program_files(root):
    out = []
    for d in lib.PROGRAM_DIRS:
        for name in sorted(os.listdir(os.path.join(root, d))):
            if name.endswith((".cpp", ".h")):
                out.append("%s/%s" % (d, name))
    return out


def derive_all(root, files=None):
    """Every mutant of the program, numbered across all files, and the files that could not be read
    (each with its reason). Only .cpp files carry mutants: the headers hold layouts and constants,
    which the compile-time checks and the constants' uses cover."""
    names = program_files(root)
    texts = {}
    for n in names:
        with open(os.path.join(root, n), encoding="latin-1") as f:
            texts[n] = f.read()
    constants = lib.named_constants(texts.values())
    parsed, skipped, mutants = {}, [], []
    for n in names:
        if not n.endswith(".cpp") or (files is not None and n not in files):
            continue
        try:
            toks, ms = lib.derive(n, texts[n], constants)
        except (lib.ParseError, KeyError, IndexError) as e:
            skipped.append((n, str(e) or type(e).__name__))
            continue
        parsed[n] = (texts[n], toks, ms)
        mutants.extend(ms)
    for i, m in enumerate(mutants, 1):
        m.id = i
    return texts, parsed, skipped, mutants


def read_declared(root):
    """tests/mutants.declared: `equivalent | KEY | reason`, or `tsan | KEY | reason`, `wine | ...` for a
    mutant only that suite can see. Returns {key: (kind, reason)} and the lines it could not read."""
    out, bad = {}, []
    path = os.path.join(root, DECLARED)
    if not os.path.exists(path):
        return out, bad
    with open(path, encoding="utf-8") as f:
        for n, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            # A key may hold " | " itself (an expression with `|`): the kind is what comes before the
            # first separator, the reason what follows the last.
            head = line.split(" | ", 1)
            parts = [head[0].strip()] + ([p.strip() for p in head[1].rsplit(" | ", 1)] if len(head) == 2 else [])
            if len(parts) != 3 or parts[0] not in ("equivalent",) + SUITES or not parts[2]:
                bad.append("%s:%d: expected 'equivalent|tsan|wine | KEY | reason'" % (DECLARED, n))
                continue
            out[parts[1]] = (parts[0], parts[2])
    return out, bad


def diff_of(text, toks, m):
    new = lib.apply_one(text, toks, m)
    return "".join(difflib.unified_diff(text.splitlines(True), new.splitlines(True), "a/" + m.file, "b/" + m.file, n=1))


# ---- the scratch build ----

def write_if_changed(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if os.path.exists(path):
        with open(path, encoding="latin-1") as f:
            if f.read() == text:
                return False
    with open(path, "w", encoding="latin-1") as f:
        f.write(text)
    return True


def sync_tree(root, tree):
    """Copies the project into the scratch tree, touching only files that changed (the build stays
    incremental)."""
    for part in TREE_PARTS:
        src = os.path.join(root, part)
        if os.path.isfile(src):
            dst = os.path.join(tree, part)
            os.makedirs(tree, exist_ok=True)
            with open(src, "rb") as f:
                data = f.read()
            if not os.path.exists(dst) or open(dst, "rb").read() != data:
                shutil.copyfile(src, dst)
            shutil.copymode(src, dst)
            continue
        for base, dirs, files in os.walk(src):
            dirs[:] = sorted(d for d in dirs if d not in ("__pycache__", "build"))
            for name in sorted(files):
                s = os.path.join(base, name)
                d = os.path.join(tree, os.path.relpath(s, root))
                os.makedirs(os.path.dirname(d), exist_ok=True)
                with open(s, "rb") as f:
                    data = f.read()
                if not os.path.exists(d) or open(d, "rb").read() != data:
                    shutil.copyfile(s, d)
                shutil.copymode(s, d)


def compile_commands(build):
    with open(os.path.join(build, "compile_commands.json")) as f:
        return {os.path.realpath(e["file"]): e for e in json.load(f)}


def compile_alone(entry, source, out_dir):
    """Compiles `source` with the flags of the compile-database entry; returns (ok, errors)."""
    cmd = entry["command"]
    obj = os.path.join(out_dir, "alone.o")
    cmd = cmd.replace(entry["file"], source)
    cmd = re.sub(r"-o \S+", "-o " + obj, cmd)
    p = subprocess.run(cmd, shell=True, cwd=entry["directory"], capture_output=True, text=True)
    return p.returncode == 0, p.stderr


def error_lines(errors, source):
    lines = set()
    for m in re.finditer(re.escape(source) + r":(\d+):\d+: (?:error|warning)", errors):
        lines.add(int(m.group(1)))
    return lines


def write_schemata(parsed, tree, skip):
    for name, (text, toks, ms) in parsed.items():
        s = lib.Schema(text, toks, ms, skip).emit()
        write_if_changed(os.path.join(tree, name), s)


def prepare(root, out, parsed, all_mutants, jobs):
    """The scratch tree and its build; returns (build dir, ids left out of the schema)."""
    tree, build = os.path.join(out, "tree"), os.path.join(out, "build")
    os.makedirs(out, exist_ok=True)
    sync_tree(root, tree)
    for d in lib.PROGRAM_DIRS:
        for name in os.listdir(os.path.join(root, d)):
            if "%s/%s" % (d, name) in parsed or os.path.isdir(os.path.join(root, d, name)):
                continue
            with open(os.path.join(root, d, name), encoding="latin-1") as f:
                write_if_changed(os.path.join(tree, d, name), f.read())
    write_if_changed(os.path.join(tree, "app", "zz_mutant_switch.cpp"),
                     lib.RUNTIME % {"count": max(1, len(all_mutants))})
    skip = set()
    write_schemata(parsed, tree, skip)
    if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        p = subprocess.run(["cmake", "-S", tree, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                            "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON"], capture_output=True, text=True)
        if p.returncode != 0:
            raise RuntimeError("configuring the scratch build failed:\n" + p.stdout[-3000:] + p.stderr[-3000:])
    db = compile_commands(build)
    # Places whose mutant does not compile inside the schema are left out, file by file, until each
    # schema compiles; those mutants are then tried alone.
    with tempfile.TemporaryDirectory() as tmp:
        for name, (text, toks, ms) in sorted(parsed.items()):
            source = os.path.realpath(os.path.join(tree, name))
            for _ in range(20):
                ok, errors = compile_alone(db[source], source, tmp)
                if ok:
                    break
                schema = lib.Schema(text, toks, ms, skip).emit()
                ids_at = lib.line_map(schema)
                bad = set()
                for ln in error_lines(errors, source):
                    k = ln
                    while k > 0 and k not in ids_at and ln - k < 6:
                        k -= 1
                    bad.update(ids_at.get(k, []))
                bad -= skip
                if not bad:
                    raise RuntimeError("the schema of %s does not compile:\n%s" % (name, errors[-3000:]))
                skip |= bad
                write_if_changed(source, lib.Schema(text, toks, ms, skip).emit())
    p = subprocess.run(["cmake", "--build", build, "-j", str(jobs), "--target", "vudizeri-tests", "vudizeri-sim",
                        "vudizeri-wine-lines", "vudizeri-conformance"],
                       capture_output=True, text=True)
    if p.returncode != 0:
        raise RuntimeError("the scratch build failed:\n" + p.stdout[-4000:] + p.stderr[-4000:])
    return build, skip


# ---- tests ----

def host_tests(build):
    p = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"], capture_output=True, text=True)
    if p.returncode != 0:
        raise RuntimeError("ctest cannot list the tests:\n" + p.stderr)
    tests = []
    for t in json.loads(p.stdout)["tests"]:
        if HOST_TESTS_EXCLUDE.search(t["name"]) or "command" not in t:
            continue
        props = {x["name"]: x["value"] for x in t.get("properties", [])}
        if not os.path.exists(t["command"][0]) and "/" in t["command"][0]:
            continue
        tests.append({"name": t["name"], "command": t["command"], "cwd": props.get("WORKING_DIRECTORY", build)})
    return tests


def run_test(test, mutant, timeout, probe=None):
    """Runs one test with the mutant selected; returns (passed, seconds, output tail, timed out)."""
    env = dict(os.environ)
    env["VUDIZERI_MUTANT"] = str(mutant)
    env.pop("VUDIZERI_MUTANT_PROBE", None)
    if probe:
        env["VUDIZERI_MUTANT_PROBE"] = probe
    start = time.monotonic()
    p = subprocess.Popen(test["command"], cwd=test["cwd"], env=env, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, start_new_session=True)
    try:
        out, _ = p.communicate(timeout=timeout)
        hung = False
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        out, _ = p.communicate()
        hung = True
    return (not hung and p.returncode == 0), time.monotonic() - start, out[-6000:].decode("utf-8", "replace"), hung


def probe(build, tests, jobs, key):
    """Which mutants each test reaches, and how long it takes unmutated; cached per build."""
    cache = os.path.join(build, "probe.json")
    if os.path.exists(cache):
        with open(cache) as f:
            data = json.load(f)
        if data.get("key") == key:
            return data["tests"]
    pdir = os.path.join(build, "probe")
    shutil.rmtree(pdir, ignore_errors=True)
    os.makedirs(pdir)

    def one(i):
        t = tests[i]
        path = os.path.join(pdir, "%d.txt" % i)
        ok, secs, out, hung = run_test(t, 0, 300, probe=path)
        reached = []
        if os.path.exists(path):
            with open(path) as f:
                reached = sorted({int(x) for x in f.read().split()})
        return {"name": t["name"], "passed": ok, "seconds": round(secs, 3), "reached": reached,
                "output": "" if ok else out}

    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        results = list(pool.map(one, range(len(tests))))
    if all(r["passed"] for r in results):
        with open(cache, "w") as f:
            json.dump({"key": key, "tests": results}, f)
    return results


def build_key(build):
    h = hashlib.sha256()
    for target in ("bin/vudizeri-tests", "bin/vudizeri-sim", "bin/vudizeri-wine-lines"):
        with open(os.path.join(build, target), "rb") as f:
            h.update(hashlib.sha256(f.read()).digest())
    return h.hexdigest()


def attack(mutant_id, tests_by_name, reaching, timeout_cap):
    """Runs the tests that reach the mutant, cheapest first, until one fails."""
    for name, secs in reaching:
        limit = min(timeout_cap, max(10.0, 5 * secs + 5))
        ok, took, out, hung = run_test(tests_by_name[name], mutant_id, limit)
        if not ok:
            return name, hung, out
    return None, False, ""


# ---- the report ----

def summary_line(caught, total, equivalent, survived):
    return "mutants: %d caught of %d (%d equivalent), %d survived" % (caught, total, equivalent, survived)


def table(rows):
    head = ("file", "mutants", "caught", "did not build", "survived", "equivalent")
    width = max([len(head[0])] + [len(r[0]) for r in rows])
    lines = ["%-*s %8s %7s %14s %9s %11s" % ((width,) + head)]
    for r in rows:
        lines.append("%-*s %8d %7d %14d %9d %11d" % ((width,) + tuple(r)))
    return "\n".join(lines)


def minutes(secs):
    secs = int(round(secs))
    return "%d min %02d s" % (secs // 60, secs % 60) if secs >= 60 else "%d s" % secs


def changed_since(root, commit):
    p = subprocess.run(["git", "-C", root, "diff", "--name-only", commit, "--"] + list(lib.PROGRAM_DIRS),
                       capture_output=True, text=True)
    if p.returncode != 0:
        raise SystemExit("mutants: git cannot compare with %s: %s" % (commit, p.stderr.strip()))
    names = [n for n in p.stdout.split() if os.path.exists(os.path.join(root, n))]
    if any(n.endswith(".h") for n in names):
        return None  # a header may change every file
    return set(names)


def find_mutant(mutants, name):
    m = re.fullmatch(r"(.+)#(\d+)", name)
    for x in mutants:
        if x.key == name or (m and x.file == m.group(1) and x.index == int(m.group(2))):
            return x
    return None


def main(argv=None):
    ap = argparse.ArgumentParser(prog="scripts/mutants.sh", description=__doc__.split("\n\n")[0])
    ap.add_argument("files", nargs="*", help="only these program files (e.g. speaker/streams.cpp)")
    ap.add_argument("--since", metavar="COMMIT", help="only the program files changed since COMMIT")
    ap.add_argument("--jobs", "-j", type=int, default=2, help="mutants run side by side (default 2)")
    ap.add_argument("--timeout", type=float, default=60, help="seconds one test may take under a mutant (cap, default 60)")
    ap.add_argument("--list", action="store_true", help="print the mutants and their keys; build nothing")
    ap.add_argument("--only", metavar="LIST", help="only the mutants named in LIST, one FILE#N or key a line "
                    "(e.g. the SURVIVED lines of an earlier report)")
    ap.add_argument("--replay", metavar="FILE#N|KEY", help="run one mutant against every test that reaches it, with their output")
    ap.add_argument("--suite", choices=SUITES, help="with --replay: also run that suite on the mutant (a build of its own)")
    ap.add_argument("--out", default=os.path.join(ROOT, "build", "mutants"), help="scratch folder (default build/mutants)")
    a = ap.parse_args(argv)
    began = time.monotonic()

    only = None
    if a.files:
        only = set(os.path.normpath(f) for f in a.files)
        unknown = only - set(program_files(ROOT))
        if unknown:
            ap.error("not a program file: %s" % ", ".join(sorted(unknown)))
    if a.since:
        changed = changed_since(ROOT, a.since)
        if changed is not None:
            only = changed if only is None else only & changed

    texts, parsed, skipped, mutants = derive_all(ROOT)
    for name, why in skipped:
        log("mutants: cannot read %s (%s): skipped" % (name, why))
    declared, bad = read_declared(ROOT)
    for b in bad:
        log("mutants: " + b)
    if bad:
        return 2
    by_key = {m.key: m for m in mutants}
    for key in declared:
        if key not in by_key:
            log("mutants: %s names no mutant of these sources: %s" % (DECLARED, key))
    selected = [m for m in mutants if only is None or m.file in only]
    if a.only:
        wanted = set()
        with open(a.only, encoding="utf-8") as f:
            for line in f:
                found = re.search(r"(?:SURVIVED )?(\S+#\d+)", line)
                if found:
                    m = find_mutant(mutants, found.group(1))
                    if m:
                        wanted.add(m.id)
                    else:
                        log("mutants: no mutant %s" % found.group(1))
        selected = [m for m in selected if m.id in wanted]

    if a.list:
        for m in selected:
            d = declared.get(m.key)
            log("%s#%d\t%s\t%s%s" % (m.file, m.index, m.kind, m.key, "\t(%s: %s)" % d if d else ""))
        log("%d mutants in %d files" % (len(selected), len({m.file for m in selected})))
        return 0

    t0 = time.monotonic()
    try:
        build, schema_skip = prepare(ROOT, a.out, parsed, mutants, a.jobs)
        t_build = time.monotonic() - t0
        tests = host_tests(build)
        t1 = time.monotonic()
        probes = probe(build, tests, a.jobs, build_key(build))
        t_probe = time.monotonic() - t1
    except RuntimeError as e:
        log("mutants: %s" % e)
        return 2
    failing = [p for p in probes if not p["passed"]]
    if failing:
        for p in failing:
            log("mutants: %s fails without any mutant:\n%s" % (p["name"], p["output"][-1200:]))
        return 2
    tests_by_name = {t["name"]: t for t in tests}
    reach = {}
    for p in probes:
        for i in p["reached"]:
            reach.setdefault(i, []).append((p["name"], p["seconds"]))
    for i in reach:
        reach[i].sort(key=lambda x: (x[1], x[0]))

    if a.replay:
        m = find_mutant(mutants, a.replay)
        if not m:
            log("mutants: no mutant %s" % a.replay)
            return 2
        text, toks, _ = parsed[m.file]
        log("%s#%d  %s\n%s" % (m.file, m.index, m.key, diff_of(text, toks, m)))
        failed = 0
        runs = [(tests_by_name, name, secs, m.id) for name, secs in reach.get(m.id, [])]
        if m.id in schema_skip:
            log("not in the schema build (it does not compile there): built alone")
            folder, errors = build_alone(ROOT, a.out, m, text, toks, a.jobs)
            if folder is None:
                log("it does not build alone either:\n" + errors)
                return 0
            alone = {t["name"]: t for t in host_tests(folder)}
            runs = [(alone, name, secs, 0) for name, secs in alone_order(m, mutants, reach, probes)]
        for by_name, name, secs, selected in runs:
            ok, took, out, hung = run_test(by_name[name], selected, min(a.timeout, max(10.0, 5 * secs + 5)))
            log("%s %s (%.1f s)" % ("passed" if ok else "HUNG" if hung else "FAILED", name, took))
            if not ok:
                failed += 1
                log(out[-3000:])
        if not runs:
            log("no host test reaches it")
        if a.suite:
            failed += other_suite(ROOT, a.out, a.suite, m, text, toks)
        return 0 if failed else 1

    results = {}
    run = [m for m in selected if m.key not in declared or declared[m.key][0] != "equivalent"]
    t2 = time.monotonic()

    def one(m):
        if m.id in schema_skip:
            return m, ("schema",), None
        found, hung, out = attack(m.id, tests_by_name, reach.get(m.id, []), a.timeout)
        if found is None:
            log("... not caught by the host tests: %s#%d %s" % (m.file, m.index, m.key))
        return m, (found, hung), out

    done = 0
    with concurrent.futures.ThreadPoolExecutor(a.jobs) as pool:
        for m, r, out in pool.map(one, run):
            results[m.id] = r
            done += 1
            if done % 50 == 0:
                log("... %d of %d mutants run (%s)" % (done, len(run), minutes(time.monotonic() - t2)))
    t_mut = time.monotonic() - t2

    # A survivor, or a mutant the schema could not hold, is compiled alone as the program's build
    # would compile it: one that does not compile there did not build.
    db = compile_commands(build)
    status = {}
    with tempfile.TemporaryDirectory() as tmp:
        for m in run:
            r = results[m.id]
            if r[0] is not None and r != ("schema",):
                status[m.id] = ("caught", r[0] + (" (hung)" if r[1] else ""))
                continue
            text, toks, _ = parsed[m.file]
            src = os.path.join(tmp, m.file)
            os.makedirs(os.path.dirname(src), exist_ok=True)
            with open(src, "w", encoding="latin-1") as f:
                f.write(lib.apply_one(text, toks, m))
            entry = db[os.path.realpath(os.path.join(a.out, "tree", m.file))]
            ok, errors = compile_alone(entry, src, tmp)
            if not ok:
                status[m.id] = ("did not build", errors.strip().splitlines()[0] if errors.strip() else "")
            elif r == ("schema",):
                status[m.id] = judge_alone(ROOT, a.out, m, text, toks, mutants, reach, probes, a.jobs, a.timeout)
            elif not reach.get(m.id):
                status[m.id] = ("survived", "no host test reaches it")
            else:
                status[m.id] = ("survived", "%d tests reach it, none fails" % len(reach[m.id]))

    rows = []
    for name in sorted({m.file for m in selected}):
        ms = [m for m in selected if m.file == name]
        eq = sum(1 for m in ms if declared.get(m.key, ("",))[0] == "equivalent")
        c = sum(1 for m in ms if status.get(m.id, ("",))[0] in ("caught", "did not build"))
        nb = sum(1 for m in ms if status.get(m.id, ("",))[0] == "did not build")
        s = sum(1 for m in ms if status.get(m.id, ("",))[0] == "survived")
        rows.append((name, len(ms), c, nb, s, eq))
    log(table(rows))
    tot = [sum(r[k] for r in rows) for k in range(1, 6)]
    log("%-s" % ("total: %d mutants, %d caught (%d of them did not build), %d survived, %d declared equivalent"
                 % tuple(tot)))

    hung = [m for m in run if status[m.id][0] == "caught" and status[m.id][1].endswith("(hung)")]
    if hung:
        log("caught by a hang (the test ran out of time): %d" % len(hung))
    nb = [m for m in run if status[m.id][0] == "did not build"]
    for m in nb:
        log("did not build: %s#%d %s\n    %s" % (m.file, m.index, m.key, status[m.id][1]))
    for m in selected:
        d = declared.get(m.key)
        if d and d[0] == "equivalent":
            log("equivalent: %s#%d %s\n    %s" % (m.file, m.index, m.key, d[1]))
    surv = [m for m in run if status[m.id][0] == "survived"]
    for m in surv:
        text, toks, _ = parsed[m.file]
        log("\nSURVIVED %s#%d (%s): %s\n    %s" % (m.file, m.index, m.kind, m.key, status[m.id][1]))
        d = declared.get(m.key)
        if d:
            log("    only the %s suite can see it (%s): scripts/mutants.sh --replay '%s#%d' --suite %s"
                % (d[0], d[1], m.file, m.index, d[0]))
        log(diff_of(text, toks, m).rstrip("\n"))
        log("    replay: scripts/mutants.sh --replay '%s#%d'" % (m.file, m.index))
    log("time: %s (scratch build %s, probe of %d tests %s, mutants %s; %d jobs)"
        % (minutes(time.monotonic() - began), minutes(t_build), len(tests), minutes(t_probe), minutes(t_mut), a.jobs))
    log(summary_line(tot[1], tot[0], tot[4], tot[3]))
    return 1 if tot[3] else 0


# ---- a mutant alone ----

def write_single_tree(root, tree, m, text, toks):
    """The project with only this mutant in its program (no schema, no switch): what the program's own
    build would compile with that one change."""
    sync_tree(root, tree)
    for d in lib.PROGRAM_DIRS:
        for name in os.listdir(os.path.join(root, d)):
            if os.path.isdir(os.path.join(root, d, name)):
                continue
            with open(os.path.join(root, d, name), encoding="latin-1") as f:
                body = f.read()
            write_if_changed(os.path.join(tree, d, name), lib.apply_one(text, toks, m) if "%s/%s" % (d, name) == m.file else body)


def alone_order(m, mutants, reach, probes):
    """The host tests for a mutant the schema could not hold, so no probe saw it: first those that reach
    another mutant of the same function (cheapest first), then every other host test (cheapest first).
    A mutant survives only when all of them pass."""
    near = {}
    for x in mutants:
        if x.file == m.file and x.site.function == m.site.function and x.id != m.id:
            for name, secs in reach.get(x.id, []):
                near[name] = secs
    first = sorted(near.items(), key=lambda x: (x[1], x[0]))
    rest = sorted(((p["name"], p["seconds"]) for p in probes if p["name"] not in near), key=lambda x: (x[1], x[0]))
    return first + rest


def build_alone(root, out, m, text, toks, jobs):
    """Builds the host tests with only this mutant in the program, in a build of its own beside the
    scratch build (incremental: one program file changes from one mutant to the next). Returns the
    build folder, or None with the errors when it does not build."""
    tree, build = os.path.join(out, "alone"), os.path.join(out, "alone-build")
    write_single_tree(root, tree, m, text, toks)
    if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        p = subprocess.run(["cmake", "-S", tree, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo"],
                           capture_output=True, text=True)
        if p.returncode != 0:
            return None, p.stdout[-2000:] + p.stderr[-2000:]
    p = subprocess.run(["cmake", "--build", build, "-j", str(jobs), "--target", "vudizeri-tests", "vudizeri-sim",
                        "vudizeri-wine-lines", "vudizeri-conformance"], capture_output=True, text=True)
    if p.returncode != 0:
        return None, p.stdout[-2000:] + p.stderr[-2000:]
    return build, ""


def attack_alone(m, order, tests, timeout_cap):
    """Runs the tests of `order` on a build that holds only this mutant, until one fails. Returns
    (failing test or None, hung, output)."""
    by_name = {t["name"]: t for t in tests}
    for name, secs in order:
        if name not in by_name:
            continue
        limit = min(timeout_cap, max(10.0, 5 * secs + 5))
        ok, took, out, hung = run_test(by_name[name], 0, limit)
        if not ok:
            return name, hung, out
    return None, False, ""


def judge_alone(root, out, m, text, toks, mutants, reach, probes, jobs, timeout, build=build_alone,
                attack_fn=attack_alone, list_tests=None):
    """The verdict on a mutant that compiles alone but not inside the schema: it is built alone and
    the host tests run on it. Returns (status, detail) as the report needs it."""
    log("... built alone (the schema cannot hold it): %s#%d %s" % (m.file, m.index, m.key))
    folder, errors = build(root, out, m, text, toks, jobs)
    if folder is None:
        return ("did not build", errors.strip().splitlines()[-1] if errors.strip() else "")
    tests = (list_tests or host_tests)(folder)
    found, hung, _ = attack_fn(m, alone_order(m, mutants, reach, probes), tests, timeout)
    if found is not None:
        return ("caught", found + " (built alone)" + (" (hung)" if hung else ""))
    log("... not caught by the host tests: %s#%d %s" % (m.file, m.index, m.key))
    return ("survived", "built alone (the schema cannot hold it): %d host tests pass" % len(tests))


def other_suite(root, out, suite, m, text, toks):
    """Builds the program with this one mutant as the other suite needs it and runs that suite;
    returns 1 when the suite failed (the mutant is caught there)."""
    tree = os.path.join(out, "single-" + suite)
    write_single_tree(root, tree, m, text, toks)
    if suite == "tsan":
        cmds = [["cmake", "--preset", "host-tsan"], ["cmake", "--build", "--preset", "host-tsan", "-j2"],
                ["ctest", "--preset", "host-tsan", "-E", "^Wine"]]
    else:
        cmds = [["scripts/wine.sh"]]
    for c in cmds:
        log("$ " + " ".join(c))
        p = subprocess.run(c, cwd=tree)
        if p.returncode != 0:
            log("the %s suite fails with the mutant: caught there" % suite)
            return 1
    log("the %s suite passes with the mutant" % suite)
    return 0


if __name__ == "__main__":
    sys.exit(main())
