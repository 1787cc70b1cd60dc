#!/usr/bin/env python3
"""scripts/leftovers.py COMMAND [ARG...] : runs the command, then fails when
it left a process or a temporary entry behind.

Processes: the command runs with this script as its subreaper, so whatever
it starts that outlives its parent comes back to this script instead of to
init. Any process descended from the command still there a moment after
the command ended was left behind: listed, then killed.

Temporary entries: the names the tests give their roots and files in the
temporary directory are listed before and after; one that appeared
meanwhile and is still there was left behind: listed and kept (it holds the
logs of whoever left it). Another run of the tests sharing the temporary
directory at the same time is counted too: run one at a time.

Exits with the command's status when that is not 0, else 1 when something
was left, else 0.
"""
import ctypes
import fnmatch
import os
import signal
import subprocess
import sys
import time

# What the tests name their roots and files in the temporary directory.
PATTERNS = ("qvboard-*", "qv-*", "qv_inifile_*", "qvbench-*")
GRACE_SECONDS = 3.0
PR_SET_CHILD_SUBREAPER = 36


def temp_dir():
    return os.environ.get("TMPDIR") or "/tmp"


def temp_entries():
    try:
        names = os.listdir(temp_dir())
    except OSError:
        return set()
    return {n for n in names if any(fnmatch.fnmatchcase(n, p) for p in PATTERNS)}


def parents():
    """Every process's parent, by process id; zombies left out."""
    out = {}
    for e in os.listdir("/proc"):
        if not e.isdigit():
            continue
        try:
            with open(f"/proc/{e}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        fields = stat[stat.rfind(")") + 2:].split()
        if fields[0] != "Z":
            out[int(e)] = int(fields[1])
    return out


def descendants():
    me = os.getpid()
    tree = parents()
    found = []
    for pid in tree:
        p = tree.get(pid)
        seen = 0
        while p is not None and p != me and p > 1 and seen < 4096:
            p = tree.get(p)
            seen += 1
        if p == me:
            found.append(pid)
    return sorted(found)


def reap():
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return


def describe(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            cmd = f.read().replace(b"\0", b" ").decode(errors="replace").strip()
    except OSError:
        cmd = "?"
    try:
        exe = os.readlink(f"/proc/{pid}/exe")
    except OSError:
        exe = "?"
    return f"  pid {pid}: {cmd}  [{exe}]"


def main(argv):
    if not argv:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        print("leftovers: cannot become a subreaper: processes are not checked", file=sys.stderr)

    before = temp_entries()
    child = subprocess.Popen(argv)
    # An interrupt reaches the command through the terminal; the check
    # still runs once it has ended.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    status = child.wait()

    deadline = time.monotonic() + GRACE_SECONDS
    while True:
        reap()
        left = descendants()
        if not left or time.monotonic() > deadline:
            break
        time.sleep(0.1)

    failed = False
    if left:
        failed = True
        print(f"leftovers: {len(left)} process(es) still running after {' '.join(argv)}:", file=sys.stderr)
        for pid in left:
            print(describe(pid), file=sys.stderr)
        for pid in left:
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        time.sleep(0.2)
        reap()

    new = sorted(temp_entries() - before)
    if new:
        failed = True
        print(f"leftovers: {len(new)} entr(y/ies) left in {temp_dir()}:", file=sys.stderr)
        for n in new:
            print(f"  {os.path.join(temp_dir(), n)}", file=sys.stderr)

    if status != 0:
        return status if status > 0 else 128 - status
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
