#!/usr/bin/env bash
# The real window driven through the accessibility bus, in a virtual 1024x768
# display with a private session bus. Exits 77 (skipped) when a needed program
# is missing. Usage: run.sh SORVANE [TEST-NAME-PART...]
set -uo pipefail
sorvane="${1:?usage: run.sh SORVANE [TEST-NAME-PART...]}"
shift
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
python=/usr/bin/python3  # Debian's: another python on PATH lacks pyatspi
skip() { echo "SKIPPED: $1"; exit 77; }
[ -x "$python" ] && "$python" -c 'import pyatspi' 2>/dev/null \
  || skip "/usr/bin/python3 cannot import pyatspi (Debian: python3-pyatspi at-spi2-core)"
for tool in Xvfb xauth dbus-run-session; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (Debian: xvfb xauth dbus)"
done
[ -x /usr/libexec/at-spi-bus-launcher ] || skip "the accessibility bus launcher is missing (Debian: at-spi2-core)"
# A build may be relinking it: give it a minute to come back.
for _ in $(seq 60); do [ -x "$sorvane" ] && break; sleep 1; done
[ -x "$sorvane" ] || { echo "FAIL: $sorvane is not an executable"; exit 1; }

# Everything started here, the bus launcher and registry included, sees only temporary folders.
work="$(mktemp -d)"
xvfb=
cleanup() { [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
export XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/run" TMPDIR="$work"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset AT_SPI_BUS_ADDRESS DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY DISPLAY SESSION_MANAGER
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 QT_QPA_PLATFORM=xcb PYTHONDONTWRITEBYTECODE=1

# The server picks a free display itself (-displayfd): "xvfb-run -a" races other
# tests started at the same moment onto one display and one cookie between them.
# -noreset: by default the server starts over when its last client leaves, and a
# window that connects in that moment is turned away.
export XAUTHORITY="$work/Xauthority"
cookie="$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')"
touch "$XAUTHORITY"
xauth -q -f "$XAUTHORITY" add :0 MIT-MAGIC-COOKIE-1 "$cookie"  # the server takes every cookie in the file
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset -auth "$XAUTHORITY" 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
display="$(tr -dc 0-9 <"$work/display")"
[ -n "$display" ] || { echo "FAIL: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
xauth -q -f "$XAUTHORITY" add ":$display" MIT-MAGIC-COOKIE-1 "$cookie"
export DISPLAY=":$display"

# The display first, then the session bus: the accessibility bus and registry it
# starts on demand inherit DISPLAY, and so can press keys through XTest.
timeout -k 10 "${SORVANE_ATSPI_TIMEOUT:-600}" \
  dbus-run-session -- "$python" "$here/test_window.py" "$sorvane" "$@" 2>&1 \
  | grep --line-buffered -v -e '^dbus-daemon\[' -e 'SpiRegistry daemon is running'
status=${PIPESTATUS[0]}
[ "$status" -eq 124 ] && echo "FAIL: the run took longer than ${SORVANE_ATSPI_TIMEOUT:-600} s"
[ "$status" -eq 0 ] || exit 1
