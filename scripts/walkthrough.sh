#!/usr/bin/env bash
# Builds the project, starts the printer emulator on a pseudo-terminal with a
# receipt open, and runs the console walkthrough of every printer command
# against it. Extra arguments go to the walkthrough (e.g. --debug for the
# traffic log on standard error). The desktop application is scripts/run.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
source scripts/emulator.sh
install_deps

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs" --target zuv_emulator zuv_demo

paper=$(mktemp)
./build/emulator/zuv_emulator --no-stdin \
  --sale "Hleb:65.50:2" --sale "Mleko 1l:129.99" --sale "Čokolada:189.50" >"$paper" &
emulator=$!
trap 'kill "$emulator" 2>/dev/null; wait 2>/dev/null; rm -f "$paper"' EXIT
port=$(emulator_port "$paper") || exit 1

echo "== printer emulator on $port; the driver's walkthrough:"
./build/demo/zuv_demo "$@" "$port"
sleep 0.3
echo
echo "== what the emulated printer printed:"
tail -n +2 "$paper"
