#!/usr/bin/env bash
# scripts/run.sh [port] : installs what is missing, builds, and starts the
# daemon in the foreground on the stand-in board, under a root of its own
# in the build tree.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/deps.sh"
dir="$("$top/scripts/build.sh" | tail -n 1)"
if [ ! -x "$dir/app/quorvad" ]; then
  echo "The daemon itself is not part of this build yet: the libraries and tests were built in $dir."
  exit 0
fi
root="$dir/root"
mkdir -p "$root/var/run" "$root/var/log" "$root/var/monitoring" "$root/usr/local/etc" "$root/dev/misc"
export QUORVAD_ROOT="$root" QUORVAD_BOARD=standin
args=()
if [ $# -gt 0 ]; then args=(--port "$1"); fi
echo "root: $root"
exec "$dir/app/quorvad" "${args[@]}"
