#!/usr/bin/env bash
# Configures (once) and builds into build/. Extra arguments go to cmake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -G Ninja -DSORVANE_WERROR=ON "$@"
fi
cmake --build build -j "$(nproc)"
