#!/usr/bin/env bash
# Builds the Debian package bastionwatch_<version>_<arch>.deb into build-package/ (or
# $BW_BUILD_DIR): a release build for the /usr prefix, packed by CPack. Install it with
#   sudo apt install ./build-package/bastionwatch_*.deb
# Extra arguments go to cmake.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
build="${BW_BUILD_DIR:-$root/build-package}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DBW_BUILD_TESTS=OFF "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/bastionwatch_*.deb
(cd "$build" && cpack -G DEB)
ls "$build"/bastionwatch_*.deb
