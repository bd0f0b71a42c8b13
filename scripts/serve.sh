#!/usr/bin/env bash
# Starts the print service on two emulated printers, "front" and "back":
# builds what is missing, starts both emulators on pseudo-terminals and
# zuv-server on them, and prints the URL, the console's and where the access
# token is. Run from the build tree, zuv-server serves the source tree's
# console/, so an edit there shows on the next reload.
# Each emulator takes control commands from a pipe (see the README's curl
# session: echo "ack-silent 1" > DIR/front.control). Ctrl-C stops all.
# ZUV_SERVE_DIR keeps the journal and the token between runs.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
source scripts/emulator.sh
install_deps

build=${ZUV_BUILD_DIR:-build}
jobs=$(nproc 2>/dev/null || echo 2)
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Up to date in a moment when nothing changed; an older zuv-server would not
# find the console.
cmake --build "$build" -j "$jobs" --target zuv_emulator zuv-server

dir=${ZUV_SERVE_DIR:-$(mktemp -d)}
mkdir -p "$dir/state"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

# One emulator; its port in $port. Its control pipe stays open for writing
# here, so the emulator never sees the end of its input.
start_emulator() {
  local name=$1 fd=$2
  rm -f "$dir/$name.control"
  mkfifo "$dir/$name.control"
  eval "exec $fd<>\"$dir/$name.control\""
  "$build"/emulator/zuv_emulator <"$dir/$name.control" >"$dir/$name.paper" 2>&1 &
  pids+=($!)
  port=$(emulator_port "$dir/$name.paper")
}
start_emulator front 7
front=$port
start_emulator back 8
back=$port

"$build"/server/zuv-server --listen "${ZUV_LISTEN:-127.0.0.1:0}" --state-dir "$dir/state" \
  --printer "front=$front" --printer "back=$back" >"$dir/server.out" 2>"$dir/server.log" &
pids+=($!)
url=""
for _ in $(seq 200); do
  url=$(sed -n '1s/^LISTEN //p' "$dir/server.out")
  [ -n "$url" ] && break
  sleep 0.05
done
if [ -z "$url" ]; then echo "serve.sh: zuv-server did not start:" >&2; cat "$dir/server.log" >&2; exit 1; fi

echo "== print service at $url (printers: front on $front, back on $back)"
console=$(sed -n 's/^zuv-server: \(the console .*\|no console .*\)$/\1/p' "$dir/server.log")
echo "== console:   $url/   (${console:-see the log})"
echo "== token:     $dir/state/token   (TOKEN=\$(cat $dir/state/token))"
echo "== try:       curl -H \"Authorization: Bearer \$TOKEN\" $url/v1/printers"
echo "== paper:     $dir/front.paper, $dir/back.paper"
echo "== emulators: echo 'ack-silent 1' > $dir/front.control"
echo "== log:       $dir/server.log; Ctrl-C stops everything"
wait "${pids[-1]}"
