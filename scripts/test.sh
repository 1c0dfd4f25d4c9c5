#!/usr/bin/env bash
# Builds Sorvane and runs every test.
#   scripts/test.sh          the plain build in build/
#   scripts/test.sh --asan   AddressSanitizer and UndefinedBehaviorSanitizer, in build-asan/
#   scripts/test.sh --tsan   ThreadSanitizer, in build-tsan/
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
  "")
    bash scripts/build.sh
    exec ctest --test-dir build --output-on-failure ;;
  # No vptr check: it probes memory through a pipe, so while a test holds every descriptor it
  # reports sound objects as bad.
  --asan) dir=build-asan; flags="-fsanitize=address,undefined -fno-sanitize=vptr -fno-sanitize-recover=undefined -fno-omit-frame-pointer" ;;
  --tsan) dir=build-tsan; flags="-fsanitize=thread" ;;
  *) echo "usage: scripts/test.sh [--asan | --tsan]" >&2; exit 2 ;;
esac
bash scripts/deps.sh
if ! grep -qF -- "CMAKE_CXX_FLAGS:STRING=$flags" "$dir/CMakeCache.txt" 2>/dev/null; then
  cmake -S . -B "$dir" -G Ninja -DSORVANE_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS=$flags" "-DCMAKE_EXE_LINKER_FLAGS=$flags"
fi
cmake --build "$dir" -j "$(nproc)"
# Qt itself is not instrumented; leaks in Qt's own start-up are not ours to report.
export TSAN_OPTIONS="ignore_noninstrumented_modules=1:die_after_fork=0:halt_on_error=1"
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$dir" --output-on-failure
