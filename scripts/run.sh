#!/usr/bin/env bash
# Builds Sorvane and lists FOLDER (default: your home folder).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
bash "$top/scripts/build.sh" >&2
exec "$top/build/cli/sorvane-cli" "${1:-$HOME}"
