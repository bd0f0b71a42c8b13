#!/usr/bin/env bash
# zuv-server.exe under wine against an emulated printer on a COM link.
# Usage: server_test.sh job|replay|service SERVER_EXE CONSOLE_DIR
# From scripts/test-windows.sh: WINEPREFIX, ZUV_WIN_SERVER_PORT (the COM
# port), ZUV_WIN_SERVER_CONTROL (the emulator's control pipe) and
# ZUV_WIN_SERVER_ANSWERS (the file its answers go to).
set -euo pipefail
case_name=$1 exe=$2 console=$3
: "${WINEPREFIX:?run through scripts/test-windows.sh}" "${ZUV_WIN_SERVER_PORT:?}" \
  "${ZUV_WIN_SERVER_CONTROL:?}" "${ZUV_WIN_SERVER_ANSWERS:?}"
work=$(mktemp -d /tmp/zuv-winserver.XXXXXX)
pids=()
finish() {
  [ "$case_name" = service ] && { wine "$exe" --uninstall-service >/dev/null 2>&1 </dev/null || true; }
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap finish EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
# A unix path as wine names it.
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# The first line of FILE from line FROM on that matches PATTERN, waited for
# as the file grows (10 s at most).
first_match() {
  local file=$1 from=$2 pattern=$3
  grep -m1 -E "$pattern" < <(timeout 10 tail -n +"$from" -F "$file" 2>/dev/null) || true
}
# Waits until FILE holds a line matching PATTERN; prints it.
await_line() {
  local line
  line=$(first_match "$1" 1 "$2")
  [ -n "$line" ] || fail "no line matching '$2' in $1 within 10 s: $(cat "$1" 2>/dev/null)"
  printf '%s\n' "$line"
}
# The emulator's count of request frames received.
received() {
  local before
  before=$(wc -l <"$ZUV_WIN_SERVER_ANSWERS")
  echo counts >"$ZUV_WIN_SERVER_CONTROL"
  local line
  line=$(first_match "$ZUV_WIN_SERVER_ANSWERS" "$((before + 1))" '^received ')
  [ -n "$line" ] || fail "the emulator did not answer \"counts\""
  echo "${line#received }"
}
# Starts the server on the state directory $1, logging to $work/$2; sets url and auth.
start_server() {
  local state=$1 log=$work/$2
  wine "$exe" --listen 127.0.0.1:0 --state-dir "$(winpath "$state")" \
    --printer "front=$ZUV_WIN_SERVER_PORT" --console-dir "$(winpath "$console")" \
    >"$log.out" 2>"$log.err" </dev/null &
  pids+=($!)
  server_pid=$!
  url=$(await_line "$log.out" '^LISTEN ' | sed 's/^LISTEN //' | tr -d '\r')
  auth="Authorization: Bearer $(tr -d '\r\n' <"$state/token")"
}
curl_json() { curl -sS --max-time 20 -H "$auth" "$@"; }

job_case() {
  start_server "$work/state" first
  local body
  body=$(curl_json -X POST "$url/v1/printers/front/test?wait=10000")
  grep -q '"state":"done"' <<<"$body" || fail "the test job did not end done: $body"
  [ "$(curl -sS -o /dev/null -w '%{http_code}' "$url/v1/printers")" = 401 ] ||
    fail "a request without the token was not refused"
  curl -sS --max-time 10 "$url/" >"$work/index.html"
  cmp -s "$work/index.html" "$console/index.html" || fail "/ did not serve the console's index.html"
  grep -q 'readable by others' "$work/first.err" &&
    fail "the token file made at first start is readable by others: $(cat "$work/first.err")"
  # A second start on the same state directory is refused with the holder's pid.
  wine "$exe" --listen 127.0.0.1:0 --state-dir "$(winpath "$work/state")" \
    --printer "front=$ZUV_WIN_SERVER_PORT" >"$work/second.out" 2>"$work/second.err" </dev/null &&
    fail "a second server on the same state directory started"
  grep -q 'another zuv-server (pid [0-9]*) is using' "$work/second.err" ||
    fail "the second start did not name the holder: $(cat "$work/second.err")"
  # A token file that everyone may read draws the warning (wine gives a
  # file made outside it a DACL from its mode: 0644 lets everyone read).
  printf '%064d\n' 7 >"$work/open-token" && chmod 644 "$work/open-token"
  wine "$exe" --listen 127.0.0.1:0 --state-dir "$(winpath "$work/other")" \
    --printer "front=$ZUV_WIN_SERVER_PORT" --token-file "$(winpath "$work/open-token")" \
    >"$work/open.out" 2>"$work/open.err" </dev/null &
  pids+=($!)
  await_line "$work/open.out" '^LISTEN ' >/dev/null
  grep -q 'readable by others than its owner' "$work/open.err" ||
    fail "a token file everyone may read drew no warning: $(cat "$work/open.err")"
  echo "job: test job done, console served, token private, second start refused, open token warned"
}

replay_case() {
  start_server "$work/state" first
  local key=replay-$$ first again
  first=$(curl_json -X POST -H "Idempotency-Key: $key" "$url/v1/printers/front/test?wait=10000")
  grep -q '"state":"done"' <<<"$first" || fail "the job did not end done: $first"
  local id=${first#*\"id\":}; id=${id%%,*}
  kill -9 "$server_pid"
  wait "$server_pid" 2>/dev/null || true
  local count
  count=$(received)
  start_server "$work/state" second
  again=$(curl_json -D "$work/headers" -X POST -H "Idempotency-Key: $key" \
    "$url/v1/printers/front/test?wait=10000")
  grep -qi '^Idempotent-Replayed: true' "$work/headers" ||
    fail "the replay after a kill was not marked replayed: $(cat "$work/headers")"
  grep -q "\"id\":$id," <<<"$again" || fail "the replay answered another job: $again (first $first)"
  [ "$(received)" = "$count" ] || fail "the replayed request reached the printer again"
  echo "replay: job $id replayed after a kill and restart, nothing sent again"
}

service_case() {
  local data=$WINEPREFIX/drive_c/ProgramData
  local config=$data/zuv-server-test/config.toml state=$data/zuv-server
  rm -rf "$state" && mkdir -p "${config%/*}"
  # The prefix's set-up leaves two wine service managers running, each with
  # its own list of services: a service made through one is unknown to the
  # other ("sc query" fails with 1060). Those of this prefix are ended, and
  # a program waiting on a pipe keeps the one that starts next up (wine
  # ends it with the last program), as a running Windows keeps its own.
  for p in $(pgrep -f 'system32\\services.exe'); do
    tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && kill "$p" || true
  done
  mkfifo "$work/keep"
  exec {keep}<>"$work/keep"
  wine cmd.exe <"$work/keep" >/dev/null 2>&1 &
  pids+=($!)
  # The service manager starts now, its output (and so its services')
  # nowhere: one holding the test's output open would keep CTest waiting.
  wine sc query zuv-server >/dev/null 2>&1 </dev/null || true
  printf 'listen = "127.0.0.1:0"\n[[printer]]\nid = "front"\nport = "%s"\n' \
    "$ZUV_WIN_SERVER_PORT" >"$config"
  wine "$exe" --install-service --config 'C:\ProgramData\zuv-server-test\config.toml' \
    --console-dir "$(winpath "$console")" </dev/null || fail "step install: --install-service failed"
  WINEDEBUG=err+sc wine sc start zuv-server </dev/null >"$work/start.txt" 2>&1 ||
    fail "step start: sc start failed: $(grep 'err:' "$work/start.txt")"
  url=$(await_line "$state/zuv-server.log" '^LISTEN ' | sed 's/^LISTEN //' | tr -d '\r')
  wine sc query zuv-server </dev/null | grep -q 'RUNNING' || fail "step query: the service is not RUNNING"
  auth="Authorization: Bearer $(tr -d '\r\n' <"$state/token")"
  curl_json -X POST "$url/v1/printers/front/test?wait=10000" | grep -q '"state":"done"' ||
    fail "step serve: the service's test job did not end done"
  wine sc stop zuv-server </dev/null >/dev/null || fail "step stop: sc stop failed"
  await_line "$state/zuv-server.log" 'service stopped' >/dev/null
  wine sc query zuv-server </dev/null | grep -q 'STOPPED' || fail "step stop: sc query does not say STOPPED"
  wine "$exe" --uninstall-service </dev/null || fail "step uninstall: --uninstall-service failed"
  wine sc query zuv-server </dev/null >/dev/null 2>&1 && fail "step uninstall: the service is still registered"
  echo "service: installed, started (RUNNING, served a job), stopped (STOPPED), uninstalled"
}

"${case_name}_case"
