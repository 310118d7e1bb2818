#!/usr/bin/env python3
"""The fault sweep's own checks: the scenario files it writes fail the call they name, and each kind of
finding is told from what the program keeps by design. Usage: test_sweep.py VUDIZERI_SIM"""

import os
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True  # nothing written beside the sources
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import sweep  # noqa: E402

SIM = None


def scenario(text, name="s.yaml"):
    d = tempfile.mkdtemp(prefix="sweep-test-")
    path = os.path.join(d, name)
    with open(path, "w") as f:
        f.write(text)
    s = sweep.Scenario(path)
    s.read()
    return s


CLOSING = "name: t\ndriver: {voice: 0, control: 0}\nevents:\n  - {at: 3, close: true}\n"


def run(s, call, events, status=0, stderr=""):
    r = sweep.Run(s, call, 1 if call else None, s.path)
    r.status, r.stderr, r.events = status, stderr, events
    sweep.judge(r, 20)
    return r


def ending(held, t=3000, code=0, reason="exit"):
    tail = [] if code is None else [{"t": t, "ev": "exit", "code": code}]
    return tail + [{"t": t, "ev": "held", "items": held}, {"t": t, "ev": "end", "reason": reason}]


BLOCK = {"kind": "memory", "name": "VirtualAlloc", "size": 33460}
WAVEOUT = {"kind": "waveout", "name": "WAVE_MAPPER"}


class WrittenScenarios(unittest.TestCase):
    def play(self, text):
        return subprocess.run([SIM, text], capture_output=True, text=True)

    def check_fault(self, original, call="CreateFileA", nth=2):
        s = scenario(original)
        written = sweep.with_fault(s, call, nth)
        self.assertIsNotNone(written)
        f = s.path.replace(".yaml", "-fault.yaml")
        with open(f, "w") as out:
            out.write(written)
        p = self.play(f)
        self.assertEqual(p.returncode, 0, p.stderr + written)
        faults = [line for line in p.stdout.splitlines() if '"ev":"fault"' in line]
        self.assertTrue(any('"call":"%s"' % call in line and '"n":%d' % nth in line for line in faults),
                        "\n".join(faults) + "\n" + written)
        return p.stdout

    def test_fault_added_to_a_scenario_without_faults(self):
        self.check_fault(CLOSING)

    def test_fault_added_to_a_block_list_keeps_the_scenarios_own(self):
        out = self.check_fault(CLOSING + "faults:\n    - {call: RegOpenKeyA, nth: 1}\n")
        self.assertIn('"call":"RegOpenKeyA"', out)

    def test_fault_added_to_a_flow_list(self):
        self.check_fault(CLOSING + "faults: [{call: RegOpenKeyA, nth: 1}]  # one\n")
        self.check_fault(CLOSING + "faults: []\n")

    def test_close_time_is_read_from_the_event_that_closes(self):
        self.assertEqual(scenario(CLOSING).close_ms, 3000)
        self.assertEqual(scenario("events:\n  - at: 2.5\n    close: true\n").close_ms, 2500)
        self.assertIsNone(scenario("events:\n  - {at: 2, status: 0x60}\n").close_ms)

    def test_a_scenario_the_runner_refuses_fails_the_sweep_with_its_message(self):
        s = scenario(CLOSING + "bogus: 1\n")
        env = dict(os.environ, VUDIZERI_SIM=SIM)
        p = subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "sweep.py"), "--out",
                            os.path.dirname(s.path), s.path], capture_output=True, text=True, env=env)
        self.assertEqual(p.returncode, 2, p.stdout)
        self.assertIn("bogus", p.stdout)
        self.assertIn("SWEEP FAILURE", p.stdout)
        self.assertTrue(p.stdout.rstrip().endswith("sweep: 0 runs, 0 findings"), p.stdout)


class Judge(unittest.TestCase):
    def kinds(self, r):
        return [k for k, _ in r.findings]

    def test_a_clean_run_has_no_finding(self):
        self.assertEqual(self.kinds(run(scenario(CLOSING), "SetTimer", ending([]))), [])

    def test_crash_and_sanitizer_report(self):
        s = scenario(CLOSING)
        self.assertEqual(self.kinds(run(s, "SetTimer", [], status=-11)), ["crash"])
        self.assertEqual(self.kinds(run(s, "SetTimer", ending([]), stderr="x.cpp:3: runtime error: y")), ["crash"])

    def test_time_limit_and_idle_world_are_hangs(self):
        s = scenario(CLOSING)
        self.assertEqual(self.kinds(run(s, "SetTimer", [], status=124)), ["hang"])
        self.assertIn("hang", self.kinds(run(s, "SetTimer", ending([], t=4000, code=None, reason="idle"))))

    def test_a_critical_section_used_after_its_deletion_is_misuse(self):
        s = scenario(CLOSING)
        misuse = [{"t": 7000, "ev": "misuse", "call": "EnterCriticalSection", "kind": "critical-section",
                   "state": "deleted"}]
        r = run(s, "SetTimer", misuse + ending([]))
        self.assertEqual(self.kinds(r), ["misuse"])
        self.assertIn("EnterCriticalSection on a deleted critical-section at 7.000 s", r.findings[0][1])

    def test_exit_after_the_close_with_code_zero_only(self):
        s = scenario(CLOSING)
        self.assertEqual(self.kinds(run(s, "SetTimer", ending([], code=1))), ["exit"])
        self.assertEqual(self.kinds(run(s, "SetTimer", ending([], t=8000, code=None, reason="end"))), ["exit"])
        self.assertEqual(self.kinds(run(s, "SetTimer", ending([], t=0))), ["exit"])
        self.assertEqual(self.kinds(run(s, "RegisterClassA", ending([], t=0))), [])
        self.assertEqual(self.kinds(run(s, "CreateWindowExA", ending([], t=0))), [])

    def test_a_refused_host_window_destruction_may_keep_running(self):
        s = scenario(CLOSING)
        fault = [{"t": 3000, "ev": "fault", "call": "DestroyWindow", "n": 3}]
        r = run(s, "DestroyWindow", fault + ending([{"kind": "window", "name": "x"}], 8000, None, "end"))
        self.assertEqual(self.kinds(r), [])
        self.assertIn("host-window-not-destroyed", r.design)
        early = [{"t": 1000, "ev": "fault", "call": "DestroyWindow", "n": 1}]
        self.assertEqual(self.kinds(run(s, "DestroyWindow", early + ending([], 8000, None, "end"))), ["exit"])

    def test_held_beyond_what_the_failed_call_keeps(self):
        s = scenario(CLOSING)
        key = {"kind": "key", "name": "Control Panel\\International"}
        kept = dict(key, kept_by="RegCloseKey", kept_nth=1)
        self.assertEqual(self.kinds(run(s, "SetTimer", ending([key]))), ["held"])
        self.assertEqual(self.kinds(run(s, "RegCloseKey", ending([kept]))), [])
        self.assertEqual(self.kinds(run(s, "RegCloseKey", ending([key]))), ["held"])
        self.assertEqual(self.kinds(run(s, "RegCloseKey", ending([dict(kept, kept_nth=2)]))), ["held"])

    def test_kept_by_design(self):
        s = scenario(CLOSING)
        tapi = {"kind": "module", "name": "TAPI32.DLL"}
        r = run(s, "SetTimer", ending([tapi]))
        self.assertEqual(self.kinds(r), [])
        self.assertEqual(r.design, ["telephony-library"])
        self.assertEqual(self.kinds(run(s, "SetTimer", ending([{"kind": "module", "name": "OTHER.DLL"}]))),
                         ["held"])
        thread = {"kind": "thread", "name": "WatchProc"}
        self.assertEqual(self.kinds(run(s, "SetTimer", ending([thread]))), ["held"])
        self.assertEqual(self.kinds(run(s, "ReadFile", ending([thread]))), [])
        self.assertEqual(self.kinds(run(s, "ReadFile", ending([dict(thread, ended=True)]))), [])
        self.assertEqual(self.kinds(run(s, "ReadFile", ending([dict(thread, ended=False)]))), ["held"])
        box = [{"t": 1000, "ev": "messagebox", "caption": "GetLastError"}]
        self.assertEqual(self.kinds(run(s, "VirtualAlloc", box + ending([thread]))), [])
        text = {"kind": "local", "name": "FormatMessageA"}
        terminated = [{"t": 2000, "ev": "thread", "event": "start"}, {"t": 5000, "ev": "thread", "event": "terminated"}]
        self.assertEqual(self.kinds(run(s, "ReadFile", box + terminated + ending([text]))), [])
        self.assertEqual(self.kinds(run(s, "ReadFile", terminated + ending([text]))), ["held"])

    def test_a_wave_device_needs_its_block(self):
        s = scenario(CLOSING)
        closing = dict(WAVEOUT, kept_by="waveOutClose", kept_nth=1)
        self.assertEqual(self.kinds(run(s, "waveOutClose", ending([closing]))), ["block"])
        self.assertEqual(self.kinds(run(s, "waveOutClose", ending([closing, BLOCK]))), [])
        self.assertEqual(self.kinds(run(s, "SetTimer", ending([BLOCK]))), ["held"])
        queued = [{"kind": "header", "name": "PlayHdr[%d]" % k} for k in range(8)]
        self.assertEqual(self.kinds(run(s, "waveOutReset", ending([WAVEOUT, BLOCK] + queued))), [])
        self.assertEqual(self.kinds(run(s, "waveOutClose", ending([closing, BLOCK] + queued))), ["held"])
        # A watch thread that is still running (not ended, not terminated) reads into the block.
        started = [{"t": 0, "ev": "thread", "event": "start"}]
        self.assertEqual(self.kinds(run(s, "TerminateThread", started + ending([]))), ["block"])
        self.assertEqual(self.kinds(run(s, "TerminateThread", started + ending([BLOCK]))), [])


if __name__ == "__main__":
    SIM = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
