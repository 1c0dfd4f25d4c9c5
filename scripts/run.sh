#!/usr/bin/env bash
# Builds Sorvane and starts its window. Without a display it says so and
# lists FOLDER (default: your home folder) with sorvane-cli instead.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
bash "$top/scripts/build.sh" >&2
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): listing ${1:-$HOME} with sorvane-cli instead." >&2
  exec "$top/build/cli/sorvane-cli" "${1:-$HOME}"
fi
exec "$top/build/shell/sorvane" "$@"
