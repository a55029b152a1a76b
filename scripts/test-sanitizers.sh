#!/usr/bin/env bash
# The whole test suite once more under AddressSanitizer and UndefinedBehaviorSanitizer,
# in build-asan/. Leak reports are off: Qt and fontconfig keep caches until exit.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
export BW_BUILD_DIR="${BW_BUILD_DIR:-$root/build-asan}"
"$root/scripts/build.sh" -DBW_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined"
cd "$BW_BUILD_DIR"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)"
