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
echo "docs/screenshot-*.png remade." >&2
