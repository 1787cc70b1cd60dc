#!/usr/bin/env python3
"""Checks the include graph of the source tree against the library floors.

    scripts/floors.py [SOURCE_DIR]

Every `#include "..."` of every C++ file (and every `#include <...>` that
names a file of the tree) is resolved as the compiler would (the including
file's directory, then the source root, then tests/) and classed by the
unit it lands in; every library a unit's CMakeLists.txt links (qv_NAME) is
held to the same rules. A unit includes only itself and the units
it stands on; the device layer (hardware/Device.*) is a unit of its own, the
only one besides the stand-in's own files and the tests that may reach
board/. Directories that do not exist yet are checked the moment they
appear. Prints one line per crossing and exits 1 when there is any.
"""
import os
import re
import sys

# Lowest first; units on one floor do not include each other.
FLOORS = [
    ["runtime", "asn1"],
    ["log", "config"],
    ["protocol"],
    ["control", "device"],
    ["hardware"],
    ["slots"],
    ["rtp", "signalling"],
    ["monitoring"],
    ["app"],
]

# Units that may include less than their floor gives them.
ONLY = {
    "protocol": {"asn1"},
}

# Includes that the floors would allow but that must never happen.
NEVER = {
    "control": {"hardware", "device", "slots"},
    "hardware": {"slots"},
    "protocol": {"control"},
}

# The stand-in board models the drivers: it stands beside the daemon, on
# the lowest floors only, and only the device layer reaches into it.
BOARD_MAY_INCLUDE = {"runtime", "log", "config"}
MAY_INCLUDE_BOARD = {"device"}

# Trees whose files are not part of any library: programs that measure or
# probe everything, and may therefore include anything.
FREE = {"bench", "fuzz"}

CODE = (".h", ".hpp", ".cpp", ".cc")
INCLUDE = re.compile(r'^\s*#\s*include\s*(?:"([^"]+)"|<([^>]+)>)')
LINK = re.compile(r'target_link_libraries\s*\(\s*(qv_\w+)([^)]*)\)', re.S)

FLOOR_OF = {u: i for i, floor in enumerate(FLOORS) for u in floor}


def allowed(unit):
    """The units that `unit` may include besides itself."""
    if unit == "board":
        return set(BOARD_MAY_INCLUDE)
    if unit in ONLY:
        below = set(ONLY[unit])
    else:
        below = {u for u, f in FLOOR_OF.items() if f < FLOOR_OF[unit]}
    below -= NEVER.get(unit, set())
    if unit in MAY_INCLUDE_BOARD:
        below.add("board")
    return below


def unit_of(rel):
    """The unit of a file given by its path from the source root: a code
    unit name, ("tests", unit) for a test file, or None outside them."""
    parts = rel.split("/")
    top = parts[0]
    if top == "tests":
        if len(parts) == 2:
            return ("tests", "runtime")  # helpers shared by every test
        inner = unit_of("/".join(parts[1:]))
        return ("tests", inner) if inner else None
    if top == "hardware" and len(parts) == 2 and os.path.splitext(parts[1])[0] == "Device":
        return "device"
    if top in FLOOR_OF or top == "board" or top in FREE:
        return top
    return top  # an unknown directory: reported by the caller


def resolve(root, includer, name):
    """The path from the root of the file an include names, or, for a file
    that is generated into the build tree, the name itself."""
    here = os.path.dirname(includer)
    for base in (here, "", "tests"):
        cand = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(os.path.join(root, cand)):
            return cand.replace(os.sep, "/")
    return name


def may_include(src, dst):
    if src in FREE:
        return True
    if isinstance(src, tuple):
        tested = src[1]
        if isinstance(dst, tuple):
            dst = dst[1]
        if dst == "board" or dst == tested:
            return True
        if tested == "board" and dst in MAY_INCLUDE_BOARD:
            return True  # the stand-in is driven as the daemon drives it
        if tested in FREE:
            return True
        return dst in allowed(tested)
    if isinstance(dst, tuple):
        return False  # code never includes a test helper
    return dst == src or dst in allowed(src)


def sources(root):
    for dirpath, dirnames, filenames in os.walk(root):
        rel_dir = os.path.relpath(dirpath, root)
        if rel_dir == ".":
            # Build trees and hidden directories hold no sources of ours.
            dirnames[:] = [d for d in dirnames if not d.startswith((".", "build"))]
        dirnames.sort()
        for f in sorted(filenames):
            if f.endswith(CODE):
                rel = os.path.normpath(os.path.join(rel_dir, f)).replace(os.sep, "/")
                if "/" in rel:
                    yield rel


def name(unit):
    if isinstance(unit, tuple):
        return "tests of " + name(unit[1])
    return "the device layer" if unit == "device" else unit + "/"


def check(root):
    faults = []
    for rel in sources(root):
        src = unit_of(rel)
        if src is None:
            continue
        known = lambda u: u in FLOOR_OF or u == "board" or u in FREE
        inner = src[1] if isinstance(src, tuple) else src
        if not known(inner):
            faults.append(f"{rel}: directory {inner}/ has no floor")
            continue
        with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                if m.group(2) is not None:
                    # <...> reaches the tree only through the root and tests/.
                    target = resolve(root, "", m.group(2))
                    if not os.path.isfile(os.path.join(root, target)):
                        continue
                else:
                    target = resolve(root, rel, m.group(1))
                dst = unit_of(target)
                if dst is None:
                    continue
                dst_inner = dst[1] if isinstance(dst, tuple) else dst
                if not known(dst_inner):
                    continue  # not one of ours
                if not may_include(src, dst):
                    faults.append(f"{rel}:{number}: {name(src)} includes {target} of {name(dst)}")
    return faults + check_links(root)


def library_unit(target):
    """The unit a library target stands for, or None."""
    name = target[len("qv_"):]
    return name if name in FLOOR_OF or name == "board" else None


def check_links(root):
    faults = []
    for top in sorted(os.listdir(root)):
        path = os.path.join(root, top, "CMakeLists.txt")
        if top.startswith((".", "build")) or top == "tests" or not os.path.isfile(path):
            continue
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        for m in LINK.finditer(text):
            src = library_unit(m.group(1))
            if src is None:
                continue
            for dep in re.findall(r"\bqv_\w+", m.group(2)):
                dst = library_unit(dep)
                if dst is not None and not may_include(src, dst):
                    number = text.count("\n", 0, m.start()) + 1
                    faults.append(f"{top}/CMakeLists.txt:{number}: {m.group(1)} links {dep}")
    return faults


def main(argv):
    root = os.path.abspath(argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
    faults = check(root)
    for f in faults:
        print(f)
    if faults:
        print(f"{len(faults)} include(s) or link(s) cross a floor")
        return 1
    print("include floors hold")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
