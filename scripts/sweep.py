#!/usr/bin/env python3
"""The fault sweep: every platform call a scenario makes, failed at each occurrence, one per run.

For each scenario: one run with --calls learns which calls the program makes and how often; then, for
every call and every occurrence 1..N and the last one, the scenario is played again with that one
occurrence failed (a `faults` entry without `error`: the call's documented failure), on the
Address/UndefinedBehaviorSanitizer build, each run under a time limit. Every run is judged:

  crash   the runner died, or a sanitizer reported
  hang    the run hit the time limit, or the world went idle (nothing left that could ever happen)
  exit    no `exit` (or an exit code other than 0) after the scenario closed the window, or an exit
          before the close (only a refused RegisterClassA or CreateWindowExA rightly exits at once)
  held    the `held` account lists more than the program keeps by design and the failed call keeps
  block   a wave device, or the watch thread's read, may still use the block, but it was released
  misuse  the program entered, left or deleted a critical section that was deleted or never
          initialised, or left one it does not own (the world's `misuse` event)

Called by scripts/sweep.sh; standard library only.
"""

import argparse
import concurrent.futures
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
KINDS = ("crash", "hang", "exit", "held", "block", "misuse")

# The block the wave devices play from and record into (VirtualAlloc of the block's read length).
BLOCK_BYTES = 33460

# Beyond the items the world marks as kept by the refused call itself (`kept_by`, `kept_nth`: a
# refused CloseHandle keeps its handle, a refused unprepare its header, a refused close its device),
# what a refused call leaves behind: for each call, items of one of the kinds given, one each.
KEPT_BY_FAILED_CALL = {
    # A device that refused its reset still plays (records into) the headers queued on it: neither
    # they nor it can be unprepared or closed at the last stop (the block stays, below).
    "waveOutReset": [("waveout",)] + [("header",)] * 8,
    "waveInReset": [("wavein",)] + [("header",)] * 16,
    # A watch thread that could not be terminated may still be in its read: it keeps what it uses
    # when the read returns, the voice device and the two stream guards (and the block, below).
    "TerminateThread": [("device",), ("critical-section",), ("critical-section",)],
}

# What the program keeps by design. Each entry: the fault it applies to (None: every run), what it
# allows, and why. `held` entries allow up to `most` items of `kind` (whose name matches `name`, a
# regular expression, and whose `ended` is the one given, if given); `no-exit` allows a run without
# `exit` after the close.
KEPT_BY_DESIGN = [
    {"id": "telephony-library", "call": None, "what": "held", "kind": "module", "name": r"(?i)tapi32",
     "most": 1,
     "reason": "the telephony library bound for the location check is never unloaded"},
    {"id": "watch-thread-after-failed-read", "call": "ReadFile", "when": "read-failed", "what": "held",
     "kind": "thread", "ended": True, "most": 1,
     "reason": "a watch thread that ends on a failed read clears its own handle, which nobody closes"},
    {"id": "terminated-thread-text", "call": None, "when": "thread-terminated", "what": "held", "kind": "local",
     "most": 1,
     "reason": "a watch thread terminated while it shows its read-failure box never frees the box's text"},
    {"id": "host-window-not-destroyed", "call": "DestroyWindow", "after_close": True, "what": "no-exit",
     "reason": "WM_CLOSE only asks DestroyWindow; when it refuses, the window and the program stay"},
]


def now():
    return time.monotonic()


class Scenario:
    def __init__(self, path):
        self.path = os.path.abspath(path)
        self.stem = os.path.splitext(os.path.basename(path))[0]
        self.text = ""
        self.close_ms = None       # when the scenario closes the window (None: it never does)
        self.calls = {}
        self.failure = None        # why the sweep could not play it
        self.rows = {k: 0 for k in KINDS}
        self.runs = 0
        self.swept = []
        self.refused = {}          # calls the world refuses a fault on: the runner's message

    def read(self):
        with open(self.path, encoding="utf-8") as f:
            self.text = f.read()
        self.close_ms = close_time(self.text)


def close_time(text):
    """The time of the scenario's `close` event, in ms: the `at` of the mapping that holds it."""
    best, last_at = None, None
    for line in text.splitlines():
        code = line.split("#", 1)[0]
        for m in re.finditer(r"\bat\s*:\s*([0-9.]+)|\bclose\s*:\s*true\b", code):
            if m.group(1) is not None:
                last_at = float(m.group(1))
            elif last_at is not None:
                ms = int(round(last_at * 1000))
                best = ms if best is None else min(best, ms)
    return best


def with_fault(scenario, call, nth):
    """The scenario's text with one more fault: the nth call of `call` fails, with its default error."""
    item = "{call: %s, nth: %d}" % (call, nth)
    text = scenario.text
    # A signal's WAV file named relative to the scenario stays where it is.
    base = os.path.dirname(scenario.path)

    def absolute(m):
        value = m.group(3)
        if value in ("silence", "counter") or value.startswith("/"):
            return m.group(0)
        return "%s%s%s%s" % (m.group(1), m.group(2), os.path.join(base, value), m.group(2))

    text = re.sub(r"(\b(?:line|mic)\s*:\s*)(['\"]?)([^'\"{}\[\]\s,#]+)\2", absolute, text)
    lines = text.splitlines()
    for i, line in enumerate(lines):
        m = re.match(r"faults\s*:\s*(.*)$", line)
        if not m:
            continue
        rest = m.group(1).split("#", 1)[0].strip()
        if rest.startswith("["):
            inner = rest[1:].strip()
            lines[i] = "faults: [" + item + ("" if inner.startswith("]") else ", ") + inner
        elif rest == "":
            indent = "  "
            for following in lines[i + 1:]:
                s = following.split("#", 1)[0]
                if s.strip():
                    if s.lstrip().startswith("-"):
                        indent = s[: len(s) - len(s.lstrip())]
                    break
            lines.insert(i + 1, indent + "- " + item)
        else:
            return None
        break
    else:
        lines += ["faults:", "  - " + item]
    head = "# fault sweep: %s with the %s %s refused\n" % (os.path.relpath(scenario.path, ROOT), ordinal(nth), call)
    return head + "\n".join(lines) + "\n"


def ordinal(n):
    suffix = "th" if 10 <= n % 100 <= 20 else {1: "st", 2: "nd", 3: "rd"}.get(n % 10, "th")
    return "%d%s" % (n, suffix)


class Run:
    def __init__(self, scenario, call=None, nth=None, file=None):
        self.scenario, self.call, self.nth, self.file = scenario, call, nth, file
        self.status = None
        self.stdout = self.stderr = ""
        self.events = []
        self.findings = []   # (kind, detail)
        self.design = []     # ids of KEPT_BY_DESIGN entries that applied
        self.kept = []       # held items the refused call itself left
        self.seconds = 0.0

    @property
    def fault(self):
        return "none" if self.call is None else "%s nth %d" % (self.call, self.nth)


def play(sim, run, limit):
    env = dict(os.environ)
    env.setdefault("ASAN_OPTIONS", "detect_leaks=0")
    env.setdefault("UBSAN_OPTIONS", "print_stacktrace=1")
    start = now()
    try:
        p = subprocess.run(["timeout", "-k", "2", str(limit), sim, "--calls", run.file], capture_output=True,
                           env=env)
        run.status = p.returncode
        run.stdout = p.stdout.decode("utf-8", "replace")
        run.stderr = p.stderr.decode("utf-8", "replace")
    except OSError as e:
        run.status, run.stderr = 127, str(e)
    run.seconds = now() - start
    for line in run.stdout.splitlines():
        try:
            run.events.append(json.loads(line))
        except ValueError:
            pass
    return run


def judge(run, limit):
    """Fills run.findings. Returns False when the runner refused the scenario (exit status 2)."""
    s, ev = run.scenario, run.events
    if run.status == 2:
        return False
    sanitizer = re.search(r"(ERROR: \w+Sanitizer|runtime error:|WARNING: \w+Sanitizer)", run.stderr)
    if run.status in (124, 137):
        run.findings.append(("hang", "the run did not end within %d s" % limit))
        return True
    if sanitizer or run.status != 0:
        what = sanitizer.group(0) if sanitizer else ("killed by signal %d" % -run.status if run.status < 0
                                                     else "exit status %d" % run.status)
        run.findings.append(("crash", what))
        return True
    end = next((e for e in reversed(ev) if e.get("ev") == "end"), None)
    if end is None:
        run.findings.append(("crash", "the trace has no `end` event"))
        return True
    fault_at = next((e["t"] for e in ev if e.get("ev") == "fault"), None)
    for e in ev:
        if e.get("ev") == "misuse":
            run.findings.append(("misuse", "%s on a %s %s at %.3f s" % (e.get("call"), e.get("state"),
                                                                       e.get("kind"), e["t"] / 1000)))
    if end.get("reason") == "idle":
        run.findings.append(("hang", "the world went idle at %.3f s: nothing left could ever happen" % (end["t"] / 1000)))
    exit_ev = next((e for e in ev if e.get("ev") == "exit"), None)
    may_exit_early = run.call in ("RegisterClassA", "CreateWindowExA")
    no_exit_ok = [d for d in KEPT_BY_DESIGN if d["what"] == "no-exit" and d["call"] == run.call and
                  (not d.get("after_close") or (fault_at is not None and s.close_ms is not None and fault_at >= s.close_ms))]
    still_running = False
    if exit_ev is None:
        if s.close_ms is not None and end.get("reason") != "idle":
            if no_exit_ok:
                run.design += [d["id"] for d in no_exit_ok]
                still_running = True
            else:
                run.findings.append(("exit", "no `exit` after the close at %.3f s (the run ended: %s at %.3f s)"
                                     % (s.close_ms / 1000, end.get("reason"), end["t"] / 1000)))
        else:
            still_running = True
    else:
        if exit_ev.get("code") != 0:
            run.findings.append(("exit", "exit code %s" % exit_ev.get("code")))
        if s.close_ms is not None and exit_ev["t"] < s.close_ms and not may_exit_early:
            run.findings.append(("exit", "exited at %.3f s, before the close at %.3f s"
                                 % (exit_ev["t"] / 1000, s.close_ms / 1000)))
    held = next((e for e in reversed(ev) if e.get("ev") == "held"), None)
    if held is None:
        run.findings.append(("held", "no `held` account in the trace"))
    elif not still_running:
        judge_held(run, held.get("items", []))
    return True


def is_block(item):
    """The block: its request (the item's name) or the pages that hold it (its size)."""
    size = item.get("size")
    return (str(item.get("name", "")).startswith("%d bytes" % BLOCK_BYTES) or
            (isinstance(size, int) and BLOCK_BYTES <= size < BLOCK_BYTES + 4096))


def applies(entry, run):
    """Whether a kept-by-design entry applies to this run: its fault, or what the run shows."""
    box = any(e.get("ev") == "messagebox" and e.get("caption") == "GetLastError" for e in run.events)
    if entry.get("when") == "thread-terminated":
        return box and any(e.get("ev") == "thread" and e.get("event") == "terminated" for e in run.events)
    if entry["call"] is None or entry["call"] == run.call:
        return True
    if entry.get("when") == "read-failed":
        # The scenario fails a read itself, or the thread showed its read-failure box.
        return box or re.search(r"\bvoice_error\s*:", run.scenario.text) is not None
    return False


def judge_held(run, items):
    left = list(items)
    for d in KEPT_BY_DESIGN:
        if d["what"] != "held":
            continue
        if not applies(d, run):
            continue
        taken = 0
        for item in list(left):
            if taken >= d["most"] or item.get("kind") != d["kind"]:
                continue
            if "name" in d and not re.search(d["name"], str(item.get("name", ""))):
                continue
            if "ended" in d and item.get("ended", d["ended"]) != d["ended"]:
                continue
            left.remove(item)
            taken += 1
        if taken:
            run.design.append(d["id"])
    own = [i for i in left if i.get("kept_by") == run.call and i.get("kept_nth") == run.nth]
    left = [i for i in left if i not in own]
    for kinds in KEPT_BY_FAILED_CALL.get(run.call, ()):
        match = next((i for i in left if i.get("kind") in kinds), None)
        if match is not None:
            left.remove(match)
            own.append(match)
    run.kept = own
    devices = [i for i in items if i.get("kind") in ("waveout", "wavein")]
    blocks = [i for i in items if i.get("kind") == "memory" and is_block(i)]
    if devices and not blocks:
        run.findings.append(("block", "%s held, but the block it plays from was released"
                             % ", ".join(describe(i) for i in devices)))
    # A watch thread that neither ended nor was terminated is still in its read into the block.
    reader = watch_thread_left(run.events)
    if reader and not blocks:
        run.findings.append(("block", "the watch thread still runs (its read into the block may be pending), "
                             "but the block was released"))
    if devices or reader:
        # The block stays allocated under a device that may still use it: the sound choice.
        left = [i for i in left if not (i.get("kind") == "memory" and is_block(i))]
    if left:
        run.findings.append(("held", "still held: " + ", ".join(describe(i) for i in left)))


def watch_thread_left(events):
    running = 0
    for e in events:
        if e.get("ev") == "thread":
            running += 1 if e.get("event") == "start" else -1
    return running > 0


def describe(item):
    extra = ", ".join("%s=%s" % (k, v) for k, v in item.items() if k not in ("kind", "name"))
    return "%s %s%s" % (item.get("kind"), json.dumps(item.get("name", "")), " (%s)" % extra if extra else "")


def occurrences(count, n):
    picks = list(range(1, min(count, n) + 1))
    if count > n:
        picks.append(count)
    return picks


def build(preset):
    if not os.path.exists(os.path.join(ROOT, "build", preset, "CMakeCache.txt")):
        p = subprocess.run(["cmake", "--preset", preset], cwd=ROOT, capture_output=True, text=True)
        if p.returncode != 0:
            return p.stdout + p.stderr
    jobs = str(min(2, os.cpu_count() or 1))
    p = subprocess.run(["cmake", "--build", "--preset", preset, "-j" + jobs, "--target", "vudizeri-sim"], cwd=ROOT,
                       capture_output=True, text=True)
    return None if p.returncode == 0 else p.stdout[-4000:] + p.stderr[-4000:]


def main():
    ap = argparse.ArgumentParser(prog="scripts/sweep.sh", description="fault sweep of the bundled scenarios")
    ap.add_argument("--nth", type=int, default=8, help="occurrences 1..N of each call, and the last (default 8)")
    ap.add_argument("--timeout", type=int, default=20, help="seconds one run may take (default 20)")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 1, help="runs at once (default: the cores)")
    ap.add_argument("--out", default=os.path.join(ROOT, "build", "sweep"),
                    help="where the findings' scenario files go (default build/sweep)")
    ap.add_argument("scenarios", nargs="*", metavar="SCENARIO")
    a = ap.parse_args()
    if a.nth < 1 or a.timeout < 1 or a.jobs < 1:
        ap.error("--nth, --timeout and --jobs take a number from 1 up")
    started = now()
    paths = a.scenarios or sorted(os.path.join(ROOT, "scenarios", f) for f in os.listdir(os.path.join(ROOT, "scenarios"))
                                  if f.endswith(".yaml"))
    sim = os.environ.get("VUDIZERI_SIM")
    if not sim:
        failure = build("host-asan")
        if failure:
            print(failure, file=sys.stderr)
            print("sweep: the host-asan build failed", file=sys.stderr)
            return 2
        sim = os.path.join(ROOT, "build", "host-asan", "bin", "vudizeri-sim")
    findings_dir = os.path.join(a.out, "findings")
    shutil.rmtree(findings_dir, ignore_errors=True)
    os.makedirs(a.out, exist_ok=True)
    work = tempfile.mkdtemp(prefix="runs-", dir=a.out)
    scenarios = [Scenario(p) for p in paths]
    try:
        return sweep(a, sim, scenarios, work, findings_dir, started)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def sweep(a, sim, scenarios, work, findings_dir, started):
    pool = concurrent.futures.ThreadPoolExecutor(max_workers=a.jobs)
    # 1. Each scenario as it stands: which calls, how often.
    base_runs = []
    for s in scenarios:
        try:
            s.read()
        except OSError as e:
            s.failure = str(e)
            continue
        base_runs.append(Run(s, file=s.path))
    for r in pool.map(lambda r: play(sim, r, a.timeout), base_runs):
        s = r.scenario
        if not judge(r, a.timeout):
            s.failure = (r.stderr.strip() or "the runner refused it (exit status 2)")
            continue
        calls = next((e.get("calls") for e in r.events if e.get("ev") == "calls"), None)
        if calls is None:
            s.failure = "the trace has no `calls` event (a runner without --calls?)"
        else:
            s.calls = calls
            s.runs += 1
    # 2. One run per call and occurrence, with that occurrence refused: the first occurrence of every
    # call, then the others of the calls the world lets fail.
    judged = list(base_runs)
    for first in (True, False):
        runs = []
        for s in scenarios:
            if s.failure:
                continue
            os.makedirs(os.path.join(work, s.stem), exist_ok=True)
            for call in sorted(s.calls):
                if first:
                    s.swept.append(call)
                elif call in s.refused:
                    continue
                picks = occurrences(s.calls[call], a.nth)
                for nth in picks[:1] if first else picks[1:]:
                    runs.append(Run(s, call, nth, os.path.join(work, s.stem, "%s-%d.yaml" % (call, nth))))
        for r in runs:
            text = with_fault(r.scenario, r.call, r.nth)
            if text is None:
                r.scenario.failure = "cannot add a fault to its `faults` key"
                continue
            with open(r.file, "w", encoding="utf-8") as out:
                out.write(text)
        runs = [r for r in runs if not r.scenario.failure]
        for r in pool.map(lambda r: play(sim, r, a.timeout), runs):
            s = r.scenario
            if not judge(r, a.timeout):
                message = r.stderr.strip() or "exit status 2"
                if r.call in message:
                    # The world refuses a fault on a call that cannot fail the way the program calls it.
                    reason = message.splitlines()[-1]
                    s.refused.setdefault(r.call, reason.split("cannot be failed: ", 1)[-1])
                else:
                    s.failure = "with the %s %s refused: %s" % (ordinal(r.nth), r.call, message)
                continue
            s.runs += 1
            judged.append(r)
    pool.shutdown()
    report(a, scenarios, judged, findings_dir, sim, started)
    failures = [s for s in scenarios if s.failure]
    total = sum(len(r.findings) for r in judged)
    if failures:
        return 2
    return 1 if total else 0


def report(a, scenarios, judged, findings_dir, sim, started):
    shown = []
    for r in judged:
        for kind, _ in r.findings:
            r.scenario.rows[kind] += 1
        if r.findings:
            shown.append(r)
    width = max([len("scenario")] + [len(s.stem) for s in scenarios])
    head = "%-*s  %5s  %5s  " % (width, "scenario", "calls", "runs") + "  ".join("%5s" % k for k in KINDS)
    print(head)
    print("-" * len(head))
    for s in scenarios:
        if s.failure:
            print("%-*s  NOT PLAYED: %s" % (width, s.stem, s.failure.splitlines()[-1]))
            continue
        swept = len([c for c in s.swept if c not in s.refused])
        print("%-*s  %5d  %5d  " % (width, s.stem, swept, s.runs) + "  ".join("%5d" % s.rows[k] for k in KINDS))
    rel_sim = os.path.relpath(sim, ROOT) if sim.startswith(ROOT) else sim
    for r in shown:
        s = r.scenario
        name = "%s--%s.yaml" % (s.stem, "none" if r.call is None else "%s-%d" % (r.call, r.nth))
        os.makedirs(findings_dir, exist_ok=True)
        kept = os.path.join(findings_dir, name)
        if r.call is None:
            shutil.copyfile(s.path, kept)
        else:
            shutil.copyfile(r.file, kept)
        print()
        for kind, detail in r.findings:
            print("FINDING %s: %s, fault %s: %s" % (kind, s.stem, r.fault, detail))
        print("  reproduce: %s --calls %s" % (rel_sim, os.path.relpath(kept, ROOT)))
        tail = [l for l in r.stdout.splitlines() if '"ev":"calls"' not in l][-6:]
        for line in tail:
            print("  | " + (line if len(line) <= 300 else line[:297] + "..."))
        errors = [l for l in r.stderr.splitlines() if l.strip()][:12]
        for line in errors:
            print("  ! " + line)
    for s in scenarios:
        if s.failure:
            print("\nSWEEP FAILURE: %s cannot be played:\n  %s" % (os.path.relpath(s.path, ROOT),
                                                                   "\n  ".join(s.failure.splitlines())))
    refused = {}
    for s in scenarios:
        for call, message in s.refused.items():
            refused.setdefault(call, message)
    if refused:
        print("\nnot swept: the world refuses a fault on")
        for call in sorted(refused):
            print("  %s: %s" % (call, refused[call]))
    used = {}
    for r in judged:
        for d in set(r.design):
            used[d] = used.get(d, 0) + 1
    if used:
        print("\nkept by design (accepted by the sweep):")
        for d in KEPT_BY_DESIGN:
            if d["id"] in used:
                print("  %s: %s (%d runs)" % (d["id"], d["reason"], used[d["id"]]))
    kinds, counts = {}, {}
    for r in judged:
        if r.kept:
            kinds.setdefault(r.call, set()).update(i.get("kind") for i in r.kept)
            counts[r.call] = counts.get(r.call, 0) + 1
    if kinds:
        print("\nkept by the refused call itself (accepted):")
        for call in sorted(kinds):
            print("  %s: %s (%d runs)" % (call, ", ".join(sorted(kinds[call])), counts[call]))
    runs = sum(s.runs for s in scenarios)
    findings = sum(len(r.findings) for r in judged)
    print("\nsweep: total time %.1f s (%d at once, N = %d)" % (now() - started, a.jobs, a.nth))
    print("sweep: %d runs, %d findings" % (runs, findings))


if __name__ == "__main__":
    sys.exit(main())
