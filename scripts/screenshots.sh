#!/usr/bin/env bash
# Takes the README's pictures of the example application on a virtual X
# server (Xvfb, Qt's xcb platform): docs/main-window.png after a connection
# test and docs/debug-window.png during "programiraj artikle", against the
# printer emulator; then the web console's docs/console-*.png, taken by its
# browser test.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
source scripts/emulator.sh
install_deps

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "${ZUV_BUILD_DIR:-build}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "${ZUV_BUILD_DIR:-build}" -j "$jobs" --target zuv_emulator zuv_app_screenshots zuv-server

# A port directory of our own: the pictures show only the emulator's link
# (and the machine's serial ports).
ports=$(mktemp -d)
export ZUV_PORT_DIR="$ports"
paper=$(mktemp)
"${ZUV_BUILD_DIR:-build}"/emulator/zuv_emulator --no-stdin --quiet --baud 115200 --link emulator0 \
  --sale "Hleb:65.50:2" >"$paper" &
emulator=$!
trap 'kill "$emulator" 2>/dev/null; wait 2>/dev/null; rm -rf "$ports" "$paper"' EXIT
port=$(emulator_port "$paper") || exit 1

mkdir -p docs
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" \
  "${ZUV_BUILD_DIR:-build}"/app/zuv_app_screenshots "$port" docs
echo "pictures in docs/: main-window.png, debug-window.png"

ZUV_SCREENSHOT_DIR="$PWD/docs" ctest --test-dir "${ZUV_BUILD_DIR:-build}" -R '^browser_console$' \
  --output-on-failure
echo "pictures in docs/: console-*.png"
