#!/usr/bin/env bash
# Builds and runs the benchmark programs (never part of the test run). The bench list is
# made at run time from Debian's tor-geoipdb package; nothing of it is committed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh" tor-geoipdb
BW_BUILD_DIR="${BW_BUILD_DIR:-$root/build-bench}" "$root/scripts/build.sh" \
  -DBW_BUILD_BENCH=ON -DBW_BUILD_TESTS=OFF -DBW_BUILD_APP=OFF -DCMAKE_BUILD_TYPE=Release
build="${BW_BUILD_DIR:-$root/build-bench}"
for bench in "$build"/bench/*_bench; do
  echo "== $(basename "$bench")"
  "$bench" "$@"
done
