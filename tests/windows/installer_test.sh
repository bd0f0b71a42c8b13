#!/usr/bin/env bash
# The Windows installer under wine: a silent install into a folder of the
# test prefix, the installed zuv.exe, then a silent uninstall.
# Usage: installer_test.sh INSTALLER VERSION  (exit 77: skipped)
set -uo pipefail
installer=$1 version=$2
if [ -z "${ZUV_WIN_PRIVATE_PREFIX:-}" ]; then
  echo "not in a private wine prefix: run scripts/test-windows.sh"
  exit 77
fi
[ -f "$installer" ] || { echo "no installer $installer: run scripts/build-win.sh"; exit 1; }
source "$(dirname "$0")/zuv_run.sh"

drive_c=$(winepath -u 'C:\' 2>/dev/null)
target='C:\zuv-installer-test'
dir=$drive_c/zuv-installer-test
data=$drive_c/ProgramData/zuv-server
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\zuv-fiscal'
rm -rf "$dir" "$data"
installed=(bin/zuv.exe share/zuv-server/console/index.html share/zuv-server/console/app.js
  include/zuv/driver/comportzuv.h include/zuv/serial/comport.h lib/libzuv_driver.a
  lib/libzuv_serial.a lib/cmake/ZuvFiscal/ZuvFiscalConfig.cmake etc/zuv-server/config.toml
  Uninstall.exe)

exe=$installer
zuv /S "/D=$target"
expect "silent install" 0 "^$"
missing=()
for f in "${installed[@]}"; do [ -f "$dir/$f" ] || missing+=("$f"); done
[ ${#missing[@]} -eq 0 ] && report "installed files" ok || report "installed files" "missing ${missing[*]}"
if grep -Fqx "state_dir = 'C:\\ProgramData\\zuv-server'" "$data/config.toml" 2>/dev/null; then
  report "the service's configuration in ProgramData" ok
else
  report "the service's configuration in ProgramData" "no $data/config.toml naming it the state folder"
fi
exe=$target'\bin\zuv.exe'
zuv --version
expect "installed zuv.exe --version" 0 "^${version//./\\.}$"
wine reg query "$key" /v DisplayVersion >"$work/out" 2>/dev/null
grep -Fq "$version" "$work/out" && report "registered for uninstalling" ok ||
  report "registered for uninstalling" "no $key"

# In place (_?=), so that it ends before this script goes on; it cannot
# remove itself then, everything else must go.
exe=$target'\Uninstall.exe'
zuv /S "_?=$target"
expect "silent uninstall" 0 "^$"
left=$(cd "$dir" 2>/dev/null && find . -type f ! -name Uninstall.exe | sed 's|^\./||')
[ -z "$left" ] && report "files removed" ok || report "files removed" "left: $left"
wine reg query "$key" >/dev/null 2>&1 && report "unregistered" "$key still there" || report "unregistered" ok
[ -f "$data/config.toml" ] && report "configuration kept" ok || report "configuration kept" "gone"
rm -rf "$dir" "$data"
finish
