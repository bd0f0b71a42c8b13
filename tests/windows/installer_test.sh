#!/usr/bin/env bash
# The Windows installer under wine: a silent install into a folder of the
# test prefix, the installed zuv.exe, a program built against the installed
# libraries, then a silent uninstall.
# Usage: installer_test.sh INSTALLER VERSION SOURCE_DIR TOOLCHAIN  (exit 77: skipped)
set -uo pipefail
installer=$1 version=$2 source_dir=$3 toolchain=$4
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

# A MinGW user's program: the installed headers, static libraries and CMake
# package are all it needs (-static: the test prefix has no MinGW DLLs).
mkdir -p "$work/consumer"
cat >"$work/consumer/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.20)
project(installed_consumer LANGUAGES CXX)
find_package(ZuvFiscal $version REQUIRED)
add_executable(consumer "$source_dir/examples/consumer/main.cpp")
target_link_libraries(consumer PRIVATE ZuvFiscal::zuv_driver)
EOF
if cmake -S "$work/consumer" -B "$work/consumer/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
     -DZuvFiscal_DIR="$dir/lib/cmake/ZuvFiscal" -DCMAKE_EXE_LINKER_FLAGS=-static >"$work/build.log" 2>&1 &&
   cmake --build "$work/consumer/build" >>"$work/build.log" 2>&1; then
  exe=$work/consumer/build/consumer.exe
  zuv
  expect "a program built against the installed libraries" 0 "^speeds: 9600 19200 38400 57600 115200$"
else
  status=1 out="" err=$(tail -20 "$work/build.log")
  report "a program built against the installed libraries" "does not build"
fi

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
