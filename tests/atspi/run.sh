#!/usr/bin/env bash
# The real window driven through the accessibility bus, in a virtual display
# with a private session bus. Exit 77 (skipped) when a needed program is missing.
# Usage: run.sh SORVANE [TEST-NAME-PART...]
set -uo pipefail
sorvane="${1:?usage: run.sh SORVANE [TEST...]}"
shift
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
python=/usr/bin/python3
[ -x "$python" ] && "$python" -c 'import pyatspi' 2>/dev/null \
  || { echo "SKIPPED: /usr/bin/python3 cannot import pyatspi (Debian: python3-pyatspi at-spi2-core)"; exit 77; }
for tool in xvfb-run xauth dbus-run-session; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed (Debian: xvfb xauth dbus)"; exit 77; }
done
[ -x /usr/libexec/at-spi-bus-launcher ] || { echo "SKIPPED: the AT-SPI bus launcher is missing (Debian: at-spi2-core)"; exit 77; }
[ -x "$sorvane" ] || { echo "FAIL: $sorvane is not an executable"; exit 1; }

# The whole session, the bus launcher and the registry included, sees only temporary folders.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
export XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/run" TMPDIR="$work"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset AT_SPI_BUS_ADDRESS DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY DISPLAY SESSION_MANAGER
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 QT_QPA_PLATFORM=xcb PYTHONDONTWRITEBYTECODE=1
# The display first: the session bus, and the accessibility bus and registry it
# starts on demand, then know DISPLAY and can press keys through XTest.
timeout -k 10 "${SORVANE_ATSPI_TIMEOUT:-900}" \
  xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
  dbus-run-session -- "$python" "$here/test_window.py" "$sorvane" "$@" 2> >(grep -v -e '^dbus-daemon\[' -e 'SpiRegistry daemon' >&2)
status=$?
[ "$status" -eq 124 ] && echo "FAIL: the run took longer than ${SORVANE_ATSPI_TIMEOUT:-900} s"
[ "$status" -eq 0 ] || exit 1
