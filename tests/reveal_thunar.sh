#!/usr/bin/env bash
# Reveal against a real file manager: Thunar on a private session bus in a
# virtual display. The call must reach it with the exact paths.
# Skipped (exit 77) when Thunar, Xvfb or dbus-run-session is not installed.
set -euo pipefail
reveal="$1"
for tool in thunar Xvfb dbus-run-session dbus-monitor; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed (Debian: thunar xvfb dbus dbus-bin), so there is no file manager to ask"
    exit 77
  fi
done
work="$(mktemp -d)"
# Services the bus started may still be writing under $work as it goes.
trap 'sleep 0.2; rm -rf "$work" 2>/dev/null || true' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
export XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
mkdir -p "$work/files"
touch "$work/files/with space.txt" "$work/files/hash#mark.txt"

dbus-run-session -- bash -s "$reveal" "$work" <<'INNER'
set -euo pipefail
reveal="$1"; work="$2"
display=":$((100 + RANDOM % 800))"
Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
export DISPLAY="$display" QT_QPA_PLATFORM=xcb
dbus-monitor --session "type='method_call',interface='org.freedesktop.FileManager1'" >"$work/calls" 2>/dev/null &
monitor=$!
thunar --daemon >/dev/null 2>&1 &
thunar=$!
# Wait until the file manager owns its name on the bus.
for _ in $(seq 100); do
  if dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
       string:org.freedesktop.FileManager1 2>/dev/null | grep -q 'boolean true'; then break; fi
  sleep 0.1
done
status=0
"$reveal" "$work/files/with space.txt" "$work/files/hash#mark.txt" || status=$?
sleep 0.5
kill "$thunar" "$monitor" "$xvfb" 2>/dev/null || true
[ "$status" -eq 0 ] || { echo "FAIL: the reveal was not taken"; exit 1; }
for uri in "file://$work/files/with%20space.txt" "file://$work/files/hash%23mark.txt"; do
  grep -qF "\"$uri\"" "$work/calls" || { echo "FAIL: no ShowItems call for $uri"; cat "$work/calls"; exit 1; }
done
echo "PASS: Thunar was asked to show both files, with their exact paths"
INNER
