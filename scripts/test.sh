#!/usr/bin/env bash
# scripts/test.sh [--sanitize] : installs what is missing, builds, runs every
# test: each case in a process of its own (CTest), then each test program
# whole (scripts/whole.py). Either run fails too when it leaves a process or
# a temporary entry behind (scripts/leftovers.py).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/deps.sh"
dir="$("$top/scripts/build.sh" "$@" | tail -n 1)"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:halt_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
cd "$dir"
status=0
"$top/scripts/leftovers.py" ctest --output-on-failure -j "$(nproc)" || status=1
echo "=== each test program whole ==="
"$top/scripts/leftovers.py" "$top/scripts/whole.py" "$dir" "$(nproc)" || status=1
exit "$status"
