#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Bastionwatch need,
# and only those that are missing. Runs apt-get as root, or through sudo.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev
  libcurl4-openssl-dev libssl-dev zlib1g-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-format clang-tidy
  clang llvm libbpf-dev bpftool
  libclang-rt-14-dev
  iproute2 xdg-utils file libcap2-bin
  xvfb xauth
  desktop-file-utils appstream systemd dpkg-dev
  tor-geoipdb
)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  as_root=(sudo)
fi
echo "install-deps: installing ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
