#!/usr/bin/env bash
# Opens the example application against the printer emulator: installs what
# the build needs, builds, starts the emulator on a pseudo-terminal with a
# receipt open, and opens the application, whose port list shows the
# emulator's port first. What the emulated printer prints appears in this
# terminal. Closing the application stops the emulator.
# The console walkthrough of every command is scripts/walkthrough.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display (DISPLAY and WAYLAND_DISPLAY are empty): run it in a desktop session (or over ssh -X), or on a virtual display: xvfb-run -a ./scripts/run.sh (package xvfb)" >&2
  exit 1
fi

source scripts/deps.sh
# A Wayland session without X11 needs Qt's Wayland platform.
if [ -z "${DISPLAY:-}" ]; then ZUV_PACKAGES="$ZUV_PACKAGES qt6-wayland"; fi
install_deps

build=${ZUV_BUILD_DIR:-build}
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs" --target zuv_emulator zuv_app

# A port directory of our own, so the link's name is free and sorts before
# the machine's ttyS*/ttyUSB* ports: the application selects it.
ports=$(mktemp -d)
export ZUV_PORT_DIR="$ports"
link=emulator0
"$build"/emulator/zuv_emulator --no-stdin --baud 115200 --link "$link" \
  --sale "Hleb:65.50:2" --sale "Mleko 1l:129.99" --sale "Čokolada:189.50" &
emulator=$!
trap 'kill "$emulator" 2>/dev/null; wait 2>/dev/null; rm -rf "$ports"' EXIT
for _ in $(seq 100); do
  [ -e "$ports/$link" ] && break
  kill -0 "$emulator" 2>/dev/null || break
  sleep 0.05
done
if [ ! -e "$ports/$link" ]; then echo "run.sh: the emulator did not start" >&2; exit 1; fi

echo "== printer emulator on $link; opening the application (close it to stop both)"
status=0
"$build"/app/zuv_app || status=$?
# Qt aborts when it cannot use the display it was given.
if [ "$status" -eq 134 ]; then
  echo "run.sh: the application could not open a window on this display; try a desktop session, or: xvfb-run -a ./scripts/run.sh" >&2
fi
exit "$status"
