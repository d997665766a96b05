#!/usr/bin/env bash
# Runs every benchmark built under build/default/bench.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
shopt -s nullglob
ran=0
for b in "$here"/build/default/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b"
  ran=1
done
[ "$ran" = 1 ] || echo "no benchmarks built yet"
