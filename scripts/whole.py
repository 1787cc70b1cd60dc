#!/usr/bin/env python3
"""scripts/whole.py BUILD_DIR [JOBS] : runs each test program of the build
once with no filter, all its cases in one process as one runs it while
working, JOBS programs at a time (default: the number of processors).

CTest runs every case in a process of its own; this run shows the cases
that pass only alone. The programs are the ones CTest knows, run in the
directory CTest runs them in; programs that share a resource lock run one
at a time. Each program's output goes to BUILD_DIR/whole/NAME.log; a
failing program's failed cases are printed. Exits 1 when any failed.
"""
import json
import os
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

# A whole program runs all its cases; the longest take a few minutes.
TIMEOUT_SECONDS = 900


def programs(build):
    out = subprocess.run(["ctest", "--show-only=json-v1"], cwd=build, check=True,
                         capture_output=True, text=True).stdout
    found = {}
    for t in json.loads(out)["tests"]:
        cmd = t.get("command") or []
        if len(cmd) < 2 or not cmd[1].startswith("--gtest_filter="):
            continue
        p = found.setdefault(cmd[0], {"cwd": build, "locks": set()})
        for prop in t.get("properties", []):
            if prop["name"] == "WORKING_DIRECTORY":
                p["cwd"] = prop["value"]
            elif prop["name"] == "RESOURCE_LOCK":
                p["locks"].update(prop["value"])
    return found


def main(argv):
    if not argv:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    build = os.path.abspath(argv[0])
    jobs = int(argv[1]) if len(argv) > 1 else os.cpu_count() or 1
    progs = programs(build)
    logs = os.path.join(build, "whole")
    os.makedirs(logs, exist_ok=True)
    locks = {name: threading.Lock() for p in progs.values() for name in p["locks"]}
    lock_order = sorted(locks)
    failed = []
    report = threading.Lock()

    def run(exe):
        p = progs[exe]
        held = [locks[n] for n in lock_order if n in p["locks"]]
        for l in held:
            l.acquire()
        name = os.path.basename(exe)
        log = os.path.join(logs, name + ".log")
        start = time.monotonic()
        try:
            with open(log, "w") as f:
                try:
                    rc = subprocess.run([exe], cwd=p["cwd"], stdout=f, stderr=subprocess.STDOUT,
                                        stdin=subprocess.DEVNULL, timeout=TIMEOUT_SECONDS).returncode
                except subprocess.TimeoutExpired:
                    rc = "timeout"
        finally:
            for l in reversed(held):
                l.release()
        took = time.monotonic() - start
        with report:
            if rc == 0:
                print(f"whole: {name} passed ({took:.1f} s)")
                return
            failed.append(name)
            print(f"whole: {name} FAILED ({rc}, {took:.1f} s), log {log}")
            with open(log, errors="replace") as f:
                for line in f:
                    if line.startswith("[  FAILED  ]") or "Failure" in line:
                        print("  " + line.rstrip())

    # Locked programs first, so that they do not end up one after another
    # at the end of the run.
    order = sorted(progs, key=lambda e: (not progs[e]["locks"], e))
    with ThreadPoolExecutor(max_workers=jobs) as pool:
        list(pool.map(run, order))
    if failed:
        print(f"whole: {len(failed)} of {len(progs)} programs failed: {' '.join(sorted(failed))}")
        return 1
    print(f"whole: all {len(progs)} programs passed")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
