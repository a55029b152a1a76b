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

# Refusing banned connections in the kernel needs CAP_BPF and CAP_NET_ADMIN. Root has them.
# Only the window's helper bastionwatch-kernel may hold them as a file, and only where no one
# outside the bastionwatch group can run it; the console guard never does (anyone could run
# it with a list of their own). A user in that group gets the helper set up where sudo needs
# no password.
if [ "$(id -u)" -ne 0 ]; then
  if [ "$(basename "$program")" = bastionwatch ]; then
    helper="$folder/bastionwatch-kernel"
    if ! id -nG | tr ' ' '\n' | grep -qx bastionwatch ||
      ! { sudo -n chown root:bastionwatch "$helper" && sudo -n chmod 0750 "$helper" &&
        sudo -n setcap cap_bpf,cap_net_admin+ep "$helper"; } 2>/dev/null; then
      echo "run: note: the window's kernel helper has no capabilities, so banned connections are"
      echo "run:       only reported; see the README's \"The kernel guard and its capabilities\""
    fi
  else
    echo "run: note: the console guard run by an ordinary user can neither refuse nor close"
    echo "run:       connections; run it as root (sudo $program) or as the service"
  fi
fi
exec "$program" "$@"
