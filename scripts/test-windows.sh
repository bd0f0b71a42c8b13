#!/usr/bin/env bash
# Runs the Windows programs under wine: the tests (CTest label "windows"),
# or with "bench" the link benchmark beside its Linux build.
#
# The wine prefix is a private one made here. Its COM links lead only to
# emulator pseudo-terminals started here: COM5 an emulator paced at 115200
# baud, COM6 one without pacing, COM7 one at 19200 baud for the tool's
# detection, COM8 the service's printer. No link leads to a device of the machine (com1 would be
# /dev/ttyS0, the console): see below. One more emulator serves loopback TCP.
# Usage: scripts/test-windows.sh [bench] [ctest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
mode=test
if [ "${1:-}" = bench ]; then mode=bench; shift; fi
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-/work}

# The emulator and, for the benchmark, the Linux side come from the Linux build.
linux_targets=(zuv_emulator)
[ $mode = bench ] && linux_targets+=(bench_link_exchange)
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -G Ninja -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
fi
[ $mode = bench ] && cmake -S . -B build -DZUV_BUILD_BENCH=ON >/dev/null
cmake --build build -j 2 --target "${linux_targets[@]}"
scripts/build-win.sh

prefix=$(mktemp -d /tmp/zuv-wine.XXXXXX)
ports=$(mktemp -d /tmp/zuv-winports.XXXXXX)
pids=()
cleanup() {
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$prefix" "$ports"
}
trap cleanup EXIT

# Starts an emulator on a pseudo-terminal; its path goes into the variable
# of the same name. With emulator_input set, it reads control commands from
# that file (a pipe) and answers into $ports/$name.out.
serve() {
  local name=$1; shift
  local input=(--no-stdin)
  [ -n "${emulator_input:-}" ] && input=()
  ZUV_PORT_DIR=$ports build/emulator/zuv_emulator --link "$name" "${input[@]}" --quiet "$@" \
    >"$ports/$name.out" 2>&1 <"${emulator_input:-/dev/null}" &
  pids+=($!)
  for _ in $(seq 100); do
    [ -L "$ports/$name" ] && break
    sleep 0.05
  done
  local pty
  pty=$(readlink "$ports/$name") || { echo "the emulator for $name did not start" >&2; exit 1; }
  printf -v "$name" '%s' "$pty"
}
com5="" com6=""
serve com5 --baud 115200
serve com6

# --- The zuv tool's emulators: COM7 answers at 19200 baud only, with a
# receipt open (131.00, one item); another serves a free loopback TCP port.
com7=""
serve com7 --baud 19200 --sale Hleb:65.50:2
build/emulator/zuv_emulator --tcp 127.0.0.1:0 --no-stdin --quiet >"$ports/tcp.out" 2>&1 &
pids+=($!)
tcp=""
for _ in $(seq 100); do
  tcp=$(sed -n 's/^PORT //p' "$ports/tcp.out")
  [ -n "$tcp" ] && break
  sleep 0.05
done
[ -n "$tcp" ] || { echo "the TCP emulator did not start" >&2; exit 1; }
# --- end of the zuv tool's emulators

# ---- zuv-server.exe: its printer on COM8 -----------------------------------
# An emulator whose control pipe stays open here, so that the server's tests
# can ask it how many requests reached it.
com8=""
mkfifo "$ports/com8.control"
exec {com8_control}<>"$ports/com8.control"
emulator_input=$ports/com8.control serve com8
export ZUV_WIN_SERVER_PORT=COM8 ZUV_WIN_SERVER_CONTROL=$ports/com8.control \
  ZUV_WIN_SERVER_ANSWERS=$ports/com8.out
# ---- end of zuv-server.exe's set-up ----------------------------------------

# wine links COM ports to the machine's serial devices when the prefix
# starts, com1 to /dev/ttyS0 (the console). Its port table is written
# before the first start: COM5 to COM8 lead to the emulators, every other
# COM number is taken by an empty entry (no link). wine still gives the
# machine's first device the one number past the table (com256); that link
# goes before anything runs, and the server stays up (-p) so that it is not
# made again.
{
  printf 'WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n'
  printf '[Software\\\\Wine\\\\Ports]\n'
  for n in $(seq 1 255); do
    case $n in
      5) printf '"COM5"="%s"\n' "$com5" ;;
      6) printf '"COM6"="%s"\n' "$com6" ;;
      7) printf '"COM7"="%s"\n' "$com7" ;;
      8) printf '"COM8"="%s"\n' "$com8" ;;
      *) printf '"COM%d"=""\n' "$n" ;;
    esac
  done
} >"$prefix/system.reg"
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -p >/dev/null 2>&1 </dev/null
server=$(pgrep -n wineserver || true)
wineboot -i >/dev/null 2>&1 </dev/null
for link in "$prefix"/dosdevices/com* "$prefix"/dosdevices/lpt*; do
  case ${link##*/} in com5|com6|com7|com8) ;; *) rm -f "$link" ;; esac
done
# Nothing may lead to a device of the machine.
for link in "$prefix"/dosdevices/*; do
  target=$(readlink "$link")
  case $target in
    ../drive_c|/|"$com5"|"$com6"|"$com7"|"$com8") ;;
    *) echo "wine prefix: $link leads to $target; refusing to run" >&2; exit 1 ;;
  esac
done
# The prefix is ours to change (the registry test rewrites SERIALCOMM).
export ZUV_WIN_TEST_PORT=COM5 ZUV_WIN_FAST_PORT=COM6 ZUV_WIN_PRIVATE_PREFIX=1
export ZUV_WIN_DETECT_PORT=COM7 ZUV_WIN_TCP_PORT=$tcp  # the zuv tool's tests

if [ $mode = bench ]; then
  exchanges=${ZUV_BENCH_EXCHANGES:-300}
  wine build-win/bench/bench_link_exchange.exe COM5 "$exchanges" 5000
  # The idle port seen from Linux, where wine's own threads and its server
  # count too: CPU over 3 s of a 5 s wait, the program and wineserver.
  wine build-win/bench/bench_link_exchange.exe COM5 1 5000 >/dev/null &
  bench=$!
  ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
  sleep 1.5
  b0=$(ticks "$bench") s0=$(ticks "$server")
  sleep 3
  b1=$(ticks "$bench") s1=$(ticks "$server")
  wait "$bench"
  hz=$(getconf CLK_TCK)
  echo "windows  idle port under wine, 3 s: program $(( (b1 - b0) * 1000 / hz )) ms CPU, wineserver $(( (s1 - s0) * 1000 / hz )) ms CPU"
  build/bench/bench_link_exchange "$com5" "$exchanges" 5000
  exit 0
fi

start=$(date +%s)
ctest --test-dir build-win -L windows --output-on-failure --timeout 600 "$@"
echo "windows tests: $(( $(date +%s) - start )) s under wine"
