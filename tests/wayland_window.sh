#!/usr/bin/env bash
# The window on Wayland, with no X11: a headless Weston compositor, the window
# started on a folder with QT_QPA_PLATFORM=wayland, the listing finished,
# then closed by SIGTERM. Skipped (exit 77) when Weston or Qt's Wayland
# plug-in is not installed.
set -euo pipefail
sorvane="$1"
command -v weston >/dev/null || { echo "SKIPPED: weston is not installed (Debian: weston)"; exit 77; }
plugin="$(find /usr/lib -path '*qt6/plugins/platforms/libqwayland-generic.so' 2>/dev/null | head -1)"
[ -n "$plugin" ] || { echo "SKIPPED: Qt's Wayland plug-in is not installed (Debian: qt6-wayland)"; exit 77; }
work="$(mktemp -d)"
cleanup() { kill "${weston:-}" "${app:-}" 2>/dev/null || true; rm -rf "$work" 2>/dev/null || true; }
trap cleanup EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
export XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR" "$work/tree/sub"
chmod 700 "$XDG_RUNTIME_DIR"
# One file: no question at the end of the run, so its summary is stored at once.
echo one >"$work/tree/sub/a.txt"
unset DISPLAY
weston --backend=headless-backend.so --socket=wayland-sorvane --idle-time=0 >"$work/weston.log" 2>&1 &
weston=$!
for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/wayland-sorvane" ] && break; sleep 0.1; done
[ -S "$XDG_RUNTIME_DIR/wayland-sorvane" ] || { echo "FAIL: weston did not start"; cat "$work/weston.log"; exit 1; }
conf="$XDG_CONFIG_HOME/Trellane/Sorvane by Trellane.conf"
WAYLAND_DISPLAY=wayland-sorvane QT_QPA_PLATFORM=wayland "$sorvane" "$work/tree" >"$work/app.log" 2>&1 &
app=$!
# The listing's summary is stored when the run ends.
for _ in $(seq 300); do grep -q 'Stopped At' "$conf" 2>/dev/null && break; sleep 0.1; done
grep -q 'Stopped At' "$conf" 2>/dev/null || { echo "FAIL: the folder was not listed"; cat "$work/app.log"; exit 1; }
grep -q 'Parsed 2 Folder' "$conf" || { echo "FAIL: unexpected summary"; cat "$conf"; exit 1; }
kill -TERM "$app"
status=0
wait "$app" || status=$?
app=
[ "$status" -eq 0 ] || { echo "FAIL: exit status $status after SIGTERM"; cat "$work/app.log"; exit 1; }
echo "PASS: listed on Wayland and closed by SIGTERM"
