#!/usr/bin/env bash
# Checks the naming style of the program's sources with clang-tidy (.clang-tidy at the top).
# Compiler warnings are the build's business (clang and GCC differ); only names count here.
# Needs a configured build folder with compile_commands.json (scripts/build.sh makes one).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BW_BUILD_DIR:-$root/build}"
if [ ! -f "$build/compile_commands.json" ]; then
  echo "check-naming: no $build/compile_commands.json; run scripts/build.sh first" >&2
  exit 1
fi
out="$(mktemp)"
trap 'rm -f "$out"' EXIT
if ! run-clang-tidy -p "$build" -j "$(nproc)" -quiet -extra-arg=-w "$root/src/" >"$out" 2>&1; then
  grep -E 'warning:|error:' "$out" | sort -u >&2 || cat "$out" >&2
  echo "check-naming: names that break the house style (see .clang-tidy)" >&2
  exit 1
fi
echo "check-naming: every name in src/ follows the house style"
