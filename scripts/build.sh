#!/usr/bin/env bash
# scripts/build.sh [--sanitize] : configures and builds into build/ (or build-asan/).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
dir="$top/build"
extra=()
for a in "$@"; do
  case "$a" in
    --sanitize) dir="$top/build-asan"; extra+=(-DQUORVAD_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
    --bench) extra+=(-DQUORVAD_BENCH=ON -DCMAKE_BUILD_TYPE=Release) ; dir="$top/build-bench" ;;
    *) echo "build.sh: unknown option $a" >&2; exit 2 ;;
  esac
done
gen=()
if command -v ninja >/dev/null 2>&1; then gen=(-G Ninja); fi
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$dir" "${gen[@]}" "${extra[@]}"
else
  cmake -S "$top" -B "$dir" "${extra[@]}" >/dev/null
fi
cmake --build "$dir" -j "$(nproc)"
echo "$dir"
