#!/usr/bin/env python3
"""The two builds answer alike: for the same scenario, the script functions
(through zelhost, on the C API) and velquor.exe in JSON give byte-identical
output from the 32-bit and the 64-bit build, each under its own Wine.
Each build's suite records its answers where its Wine runs (the 32-bit one
perhaps in the emulated machine: the test `answers`), and make test
compares them afterwards.

    tests/same_answers.py BUILD32 BUILD64             run both, compare
    tests/same_answers.py --record BUILD              run one: BUILD/answers.json
    tests/same_answers.py --compare BUILD32 BUILD64   compare the recorded answers
"""
import json
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
from winerun import run_in_prefix  # noqa: E402
RUNS = [("office.ini", "zelhost.exe", ["wtsenumsessions", "TS-OFFICE", "1"]),
        ("office.ini", "zelhost.exe", ["wtsenumprocesses", "TS-OFFICE"]),
        ("office.ini", "zelhost.exe", ["wtsquerysessioninfo", "TS-OFFICE", "6"]),
        ("office.ini", "velquor.exe", ["users", "--server", "TS-OFFICE", "--format", "json"]),
        ("office.ini", "velquor.exe", ["processes", "--server", "TS-OFFICE", "--sort", "cpu", "--format", "json"]),
        ("office.ini", "velquor.exe", ["session", "7", "--server", "TS-OFFICE", "--format", "csv"]),
        ("cli.ini", "velquor.exe", ["sessions", "--server", "alpha,broken,gamma", "--format", "json"]),
        ("hostile.ini", "velquor.exe", ["users", "--server", "alpha"])]


def run(build, scenario, program, args):
    path = scenario if scenario.startswith("/") else os.path.join(ROOT, "examples", scenario)
    if not os.path.exists(path):
        path = os.path.join(ROOT, "tests", "scenarios", scenario)
    env = dict(os.environ, WINEDLLOVERRIDES="wtsapi32,winsta,netapi32=n", LC_ALL="C.UTF-8",
               VELQUOR_SCENARIO="Z:" + path)
    done = run_in_prefix(os.path.join(build, "wineprefix"), os.path.join(build, "test", program), args,
                         cwd=os.path.join(build, "test"), env=env)
    return done.returncode, done.stdout


def answers_of(build):
    return [run(build, scenario, program, args) for scenario, program, args in RUNS]


def recorded(build):
    with open(os.path.join(build, "answers.json"), encoding="utf-8") as f:
        return [(status, out.encode("latin-1")) for status, out in json.load(f)]


if sys.argv[1] == "--record":
    build = os.path.abspath(sys.argv[2])
    if os.path.exists(os.path.join(build, "answers.json")):
        os.remove(os.path.join(build, "answers.json"))  # no answers of an earlier run are compared
    answers = answers_of(build)
    with open(os.path.join(build, "answers.json"), "w", encoding="utf-8") as f:
        json.dump([(status, out.decode("latin-1")) for status, out in answers], f)
    sys.exit(0)
builds = [os.path.abspath(b) for b in sys.argv[-2:]]
both = [recorded(b) if sys.argv[1] == "--compare" else answers_of(b) for b in builds]
failed = 0
for (scenario, program, args), ours, theirs in zip(RUNS, *both):
    if ours != theirs or not ours[1]:
        failed += 1
        print("differ: %s %s %s\n  32-bit: %r\n  64-bit: %r" % (scenario, program, args, ours, theirs))
print("%d of %d answers alike in both builds" % (len(RUNS) - failed, len(RUNS)))
sys.exit(1 if failed else 0)
