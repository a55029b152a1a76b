#!/usr/bin/env bash
# One command from a fresh Debian 12 machine: install what is missing, build, and start
# Bastionwatch: the window where a display is available, otherwise the console guard.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" -DBW_BUILD_TESTS=OFF
build="${BW_BUILD_DIR:-$root/build}"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build/src/app/bastionwatch" ]; then
  program="$build/src/app/bastionwatch"
  echo "run: display found, starting the window ($program)"
else
  program="$build/src/headless/bastionwatch-headless"
  echo "run: no display, starting the console guard ($program); Ctrl+C ends it"
fi

# The program keeps its files beside the executable. A first start gets the example
# blocklist (documentation-only ranges) so there is something to guard with.
folder="$(dirname "$program")"
if [ ! -s "$folder/Moatlist.P2P" ]; then
  cp "$root/examples/Moatlist.P2P" "$folder/Moatlist.P2P"
  echo "run: no blocklist yet; copied examples/Moatlist.P2P to $folder"
fi

# Refusing banned connections in the kernel needs CAP_BPF and CAP_NET_ADMIN. Root has them;
# otherwise grant them where that is possible without asking for a password: to the console
# guard itself, or for the window to its helper bastionwatch-kernel (never to the window).
if [ "$(id -u)" -ne 0 ]; then
  privileged="$program"
  [ "$(basename "$program")" = bastionwatch ] && privileged="$folder/bastionwatch-kernel"
  if ! sudo -n setcap cap_bpf,cap_net_admin+ep "$privileged" 2>/dev/null; then
    echo "run: note: without CAP_BPF and CAP_NET_ADMIN the guard polls the connection table, and"
    echo "run:       without CAP_NET_ADMIN banned connections are reported but cannot be closed;"
    echo "run:       grant them with: sudo setcap cap_bpf,cap_net_admin+ep $privileged"
  fi
fi
exec "$program" "$@"
