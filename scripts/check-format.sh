#!/usr/bin/env bash
# Checks that every C and C++ file the repository tracks is in its clang-format style.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' '*.c' | xargs -0 clang-format --dry-run -Werror
echo "check-format: every source file is formatted"
