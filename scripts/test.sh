#!/usr/bin/env bash
# One command from a fresh Debian 12 machine: install what is missing, build, run every test.
# Extra arguments go to cmake (CI passes -DBW_WARNINGS_AS_ERRORS=ON).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" -DBW_BUILD_TESTS=ON "$@"
cd "${BW_BUILD_DIR:-$root/build}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)"
