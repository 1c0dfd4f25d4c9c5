#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and
# this machine lacks. Safe to run again: it does nothing when all is there.
set -euo pipefail

# The last lines: a real file manager, compositor and display for the desktop integration tests,
# and the accessibility bus that drives the real window; then mkfs.xfs, for the link tests' loop-mounted
# file system that shares blocks.
packages=(cmake g++ ninja-build pkg-config qt6-base-dev qt6-base-dev-tools fonts-dejavu-core
          thunar weston qt6-wayland xvfb xauth dbus python3-pyatspi at-spi2-core
          xfsprogs)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}" >&2
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
