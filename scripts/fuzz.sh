#!/usr/bin/env bash
# scripts/fuzz.sh [seconds] : builds the libFuzzer targets with clang into
# build-fuzz/ and runs each for the given seconds (default 60). Fails on any
# finding; the input that broke a target is left in build-fuzz/findings/.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
"$top/scripts/deps.sh"
dir="$top/build-fuzz"
gen=()
if command -v ninja >/dev/null 2>&1; then gen=(-G Ninja); fi
if [ ! -f "$dir/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$top" -B "$dir" "${gen[@]}" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUORVAD_FUZZ=ON -DQUORVAD_SANITIZE=ON -DQUORVAD_TESTS=OFF
else
  cmake -S "$top" -B "$dir" >/dev/null
fi
cmake --build "$dir" -j "$(nproc)" --target qv_fuzz_targets

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
mkdir -p "$dir/findings"
status=0
for target in "$dir"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name="$(basename "$target")"
  corpus="$dir/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  if [ -d "$top/tests/fuzz/corpus/$name" ]; then seeds=("$top/tests/fuzz/corpus/$name"); fi
  echo "=== $name for ${seconds}s ==="
  if ! "$target" -max_total_time="$seconds" -max_len=512 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$dir/findings/$name-" -print_final_stats=1 \
      "$corpus" "${seeds[@]}"; then
    echo "fuzz.sh: $name found a failing input (see $dir/findings/); keep it in tests/asn1/regressions/" >&2
    status=1
  fi
done
exit $status
