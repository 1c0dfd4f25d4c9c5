#!/usr/bin/env bash
# Remakes the README's pictures (docs/screenshot-*.png) in a virtual X
# display, from a demo tree with settings of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
if ! command -v xvfb-run >/dev/null; then
  sudo=(); [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get install -y -q --no-install-recommends xvfb xauth
fi
cmake --build build --target sorvane_screenshots
xvfb-run -a -s "-screen 0 1024x768x24" build/docs/sorvane_screenshots docs
# The picture of where the space lies, on real files: this machine's /usr/share/doc beside a copy of
# half of it, as an old backup would be.
share="$(mktemp -d)"
trap 'rm -rf "$share"' EXIT
cp -a /usr/share/doc "$share/doc"
mkdir -p "$share/backup-2024/doc"
ls /usr/share/doc | awk 'NR % 2' | while read -r d; do cp -a "/usr/share/doc/$d" "$share/backup-2024/doc/"; done
xvfb-run -a -s "-screen 0 1024x768x24" build/docs/sorvane_screenshots docs --map "$share"
echo "docs/screenshot-*.png remade." >&2
