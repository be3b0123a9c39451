#!/usr/bin/env python3
# SPDX-License-Identifier: LGPL-2.1-or-later
"""Runs the test suite of a build (default build/, made by scripts/test.sh) under valgrind's
memcheck: `python3 scripts/memcheck.py [BUILD_DIR [NAME_PART]]`, NAME_PART restricting it to
the runs whose first test's name contains it. Too slow for CI; run it by hand after changes to
memory handling. Each test program runs once with all its GoogleTest cases (the cases CTest
lists for it, in its environment); programs they start from the build are traced too. Skipped:
tests that only run scripts over files (export lists, generated tables, the install) and the
allocation-failure tests, which replace the allocator as memcheck does. Errors: invalid
accesses, uninitialised values that decide or leave the program, definite or possible leaks
(tests/valgrind.supp says what is suppressed and why). libjpeg-turbo runs its C code
(JSIMD_FORCENONE=1): its vector code loads the uninitialised padding of its own row buffers,
which memcheck cannot tell from a real fault. Logs go to BUILD_DIR/memcheck/."""
import collections
import concurrent.futures
import json
import os
import pathlib
import re
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ROOT / "build").resolve()
VALGRIND = ["valgrind", "--tool=memcheck", "--error-exitcode=99", "--leak-check=full",
            "--errors-for-leak-kinds=definite,possible", "--show-leak-kinds=definite,possible",
            "--track-origins=yes", "--num-callers=30", "--trace-children=yes",
            "--child-silent-after-fork=yes", "--trace-children-skip=/usr/*,/bin/*,/root/*",
            f"--suppressions={ROOT}/tests/valgrind.supp"]


def runs():
    """(name, command, environment, folder) per program run: a program's GoogleTest cases that
    share an environment are joined into one filter."""
    listing = json.loads(subprocess.check_output(["ctest", "--show-only=json-v1"], cwd=BUILD))
    grouped = collections.OrderedDict()
    for test in listing["tests"]:
        command = test.get("command", [])
        if not command or not command[0].startswith(str(BUILD)):
            continue
        props = {p["name"]: p["value"] for p in test.get("properties", [])}
        # The allocation-failure tests bring an allocator of their own, which memcheck replaces.
        if "robustness" in props.get("LABELS", []):
            continue
        env = tuple(props.get("ENVIRONMENT", []))
        cwd = props.get("WORKING_DIRECTORY", str(BUILD))
        filters = [a for a in command if a.startswith("--gtest_filter=")]
        rest = tuple(a for a in command if not a.startswith("--gtest_"))
        key = (rest, env, cwd) if filters else (rest, env, cwd, test["name"])
        entry = grouped.setdefault(key, [test["name"], []])
        entry[1] += [f[len("--gtest_filter="):] for f in filters]
    for key, (name, filters) in grouped.items():
        command = list(key[0]) + ([f"--gtest_filter={':'.join(filters)}"] if filters else [])
        yield name, command, key[1], key[2]


def check(run, logs):
    """Runs one program under memcheck; true when it and every program it started are clean."""
    name, command, env, cwd = run
    environ = dict(os.environ, JSIMD_FORCENONE="1")
    environ.update(e.split("=", 1) for e in env)
    log = logs / (name.replace("/", "_").replace(" ", "_")[:80] + ".log")
    start = time.monotonic()
    rc = subprocess.call(VALGRIND + [f"--log-file={log}.%p"] + command, cwd=cwd, env=environ,
                         stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
    # A program started by a test may fail its memcheck while the test passes.
    for child in logs.glob(log.name + ".*"):
        if re.search(r"ERROR SUMMARY: [1-9]", child.read_text(errors="replace")):
            rc = rc or 99
    print(f"{'ok  ' if rc == 0 else 'FAIL'} {time.monotonic() - start:7.1f}s {name}", flush=True)
    return rc == 0


def main():
    subprocess.check_call(["sh", str(ROOT / "scripts" / "setup.sh"), "--tests", "--memcheck"])
    logs = BUILD / "memcheck"
    logs.mkdir(exist_ok=True)
    for old in logs.glob("*.log.*"):
        old.unlink()
    only = sys.argv[2] if len(sys.argv) > 2 else ""
    selected = [run for run in runs() if only in run[0]]
    with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
        results = list(pool.map(lambda run: check(run, logs), selected))
    failed = [run[0] for run, ok in zip(selected, results) if not ok]
    if failed:
        sys.exit(f"memcheck: {len(failed)} failed: {' '.join(failed)} (logs in {logs})")
    print(f"memcheck: no errors in {len(selected)} runs")


main()
