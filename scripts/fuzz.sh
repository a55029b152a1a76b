#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/ (or $BW_FUZZ_BUILD_DIR), runs each
# once over its seeds and its regression inputs (fuzz/regressions/<target>/),
# then fuzzes each for BW_FUZZ_SECONDS (10 by default). Exits non-zero when any
# input crashes a target or breaks a property; the input is kept in
# <build>/fuzz-findings/ and the target's output in <build>/fuzz-logs/.
#   scripts/fuzz.sh [target ...]    only those targets
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BW_FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${BW_FUZZ_SECONDS:-10}"
targets=(fuzz_list_format fuzz_gzip fuzz_subscriptions fuzz_helper_protocol fuzz_handover
         fuzz_blocklist_roundtrip fuzz_ip_address)
[ $# -gt 0 ] && targets=("$@")

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DBW_BUILD_FUZZ=ON -DBW_BUILD_APP=OFF -DBW_BUILD_TESTS=OFF \
  >/dev/null
cmake --build "$build" --target "${targets[@]}" -j "$(nproc)"

export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
logs="$build/fuzz-logs"
findings="$build/fuzz-findings"
mkdir -p "$logs" "$findings"
limits=(-rss_limit_mb=2048 -artifact_prefix="$findings/")
failed=()

# Runs one step of a target; on failure shows the end of its output.
step() {
  local target="$1" what="$2"
  shift 2
  local log="$logs/$target-$what.log"
  if "$build/fuzz/$target" "${limits[@]}" "$@" >"$log" 2>&1; then
    echo "fuzz: $target $what: $(grep -E '^(Executed|Done) ' "$log" | tail -1)"
  else
    echo "fuzz: $target $what FAILED (whole output: $log)" >&2
    grep -vE '^(INFO|#[0-9]+|Executed|Running)' "$log" | tail -40 >&2
    failed+=("$target $what")
  fi
}

for target in "${targets[@]}"; do
  seeds="$root/fuzz/corpus/$target"
  inputs=("$seeds"/*)
  [ -d "$root/fuzz/regressions/$target" ] && inputs+=("$root/fuzz/regressions/$target"/*)
  # A regression input may be a whole list of 256 MiB: more time than a fuzzed one.
  step "$target" regressions -timeout=120 "${inputs[@]}"
  # New inputs go to the build folder; the seeds in the tree stay as committed.
  work="$build/fuzz-corpus/$target"
  mkdir -p "$work"
  step "$target" fuzzing -timeout=10 -max_total_time="$seconds" -print_final_stats=1 \
    "$work" "$seeds"
done

if [ ${#failed[@]} -gt 0 ]; then
  printf 'fuzz: failed: %s\n' "${failed[@]}" >&2
  echo "fuzz: the inputs that failed are in $findings" >&2
  exit 1
fi
echo "fuzz: ${#targets[@]} targets, no crash and no broken property"
