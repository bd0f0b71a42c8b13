#!/usr/bin/env bash
# zuv.exe under wine against the emulators of scripts/test-windows.sh: a COM
# link, detection on a COM port and a printer behind tcp://.
# Usage: zuv_tool_test.sh ZUV_EXE VERSION  (exit 77: skipped)
set -uo pipefail
exe=$1 version=$2
if [ -z "${ZUV_WIN_TEST_PORT:-}" ] || [ -z "${ZUV_WIN_DETECT_PORT:-}" ] || [ -z "${ZUV_WIN_TCP_PORT:-}" ]; then
  echo "no emulators: run scripts/test-windows.sh"
  exit 77
fi
unset ZUV_PORT ZUV_BAUD
source "$(dirname "$0")/zuv_run.sh"

zuv --version
expect "version" 0 "^${version//./\\.}$"

# The registry's port list (wine registers every number of its port table).
zuv ports
expect "ports lists the COM links" 0 "^$ZUV_WIN_TEST_PORT\$"
zuv --json ports
expect "ports as JSON" 0 "\\{\"port\":\"$ZUV_WIN_DETECT_PORT\",\"console\":false\\}"

zuv -p "$ZUV_WIN_TEST_PORT" test
expect "connection test on $ZUV_WIN_TEST_PORT" 0 "^the printer answered$"

# The detection emulator answers at 19200 baud only, with a receipt open.
zuv detect "$ZUV_WIN_DETECT_PORT"
expect "detect $ZUV_WIN_DETECT_PORT" 0 "^printer on $ZUV_WIN_DETECT_PORT at 19200 baud"
zuv --json -p "$ZUV_WIN_DETECT_PORT" -b 19200 receipt-state
expect "receipt state as JSON" 0 '^\{"command":"receipt-state","ok":true,"subtotal":"131.00","total":"131.00","items":1,'

zuv -p COM300 test
expect "a port that does not exist" 1 "^$"
expect_err "its message" "cannot open COM300"
zuv test
expect "no port" 2 "^$"

# A printer behind a device server; a Windows article file (CRLF line ends,
# a Cyrillic name) given by its Windows path.
zuv -p "$ZUV_WIN_TCP_PORT" test
expect "connection test on tcp://" 0 "^the printer answered$"
zuv detect "$ZUV_WIN_TCP_PORT"
expect "detect tcp://" 0 "^printer on $ZUV_WIN_TCP_PORT \(speed set by the device server\)"
printf 'code,name,unit,tax group,price\r\n1,Hleb,0,1,65.50\r\n3,Шљивић,0,1,99\r\n' >"$work/articles.csv"
zuv --strict -p "$ZUV_WIN_TCP_PORT" program-articles "$(winepath -w "$work/articles.csv" 2>/dev/null)"
expect "articles from a Windows file" 0 "^programmed 2 articles$"
zuv --json -p "$ZUV_WIN_TCP_PORT" item-count
expect "item count as JSON" 0 '"items":0'

finish
