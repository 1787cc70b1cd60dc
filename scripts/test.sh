#!/usr/bin/env bash
# scripts/test.sh [--sanitize] : installs what is missing, builds, runs every test.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/deps.sh"
dir="$("$top/scripts/build.sh" "$@" | tail -n 1)"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:halt_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
cd "$dir"
ctest --output-on-failure -j "$(nproc)"
