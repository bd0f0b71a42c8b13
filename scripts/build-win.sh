#!/usr/bin/env bash
# Builds every Windows artefact into build-win/: GoogleTest for mingw, the
# libraries, zuv.exe, the tests and the Windows benchmark, all linked
# statically (each .exe imports only system DLLs); then, on a whole build,
# the installer zuv-fiscal-VERSION-win64.exe and the zip beside it.
# Usage: scripts/build-win.sh [cmake --build arguments, e.g. --target X]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build-win
jobs=${ZUV_JOBS:-2}

# What the Windows programs and scripts/test-windows.sh use: the cross
# compiler, GoogleTest's sources, wine (`wine` gives /usr/bin/wine), NSIS
# for the installer; tcl to make SQLite's amalgamation, Boost's headers for
# the service, curl for its tests.
ZUV_WIN_PACKAGES="cmake ninja-build g++-mingw-w64-x86-64-posix googletest wine wine64 nsis tcl curl libboost1.81-dev"

source scripts/deps.sh
install_deps "$ZUV_WIN_PACKAGES"

toolchain=$root/cmake/mingw-w64.cmake
mingw_root=$out/mingw-root
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

# GoogleTest from Debian's sources, installed under a root of our own.
if [ ! -f "$mingw_root/usr/lib/libgtest.a" ]; then
  cmake -S /usr/src/googletest -B "$out/googletest" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX=/usr "${launcher[@]}" \
    -Dgtest_disable_pthreads=OFF >/dev/null
  cmake --build "$out/googletest" -j "$jobs"
  DESTDIR=$mingw_root cmake --install "$out/googletest" >/dev/null
fi

# SQLite for the service's journal: the amalgamation of Debian's source
# package, fetched once and kept in build-win/sqlite.
scripts/sqlite-win.sh "$out/sqlite"

# Header-only libraries: links to just them, never all of /usr/include.
links=$out/header-links
mkdir -p "$links"
for h in nlohmann CLI toml++ boost; do
  [ -e "/usr/include/$h" ] && ln -sfn "/usr/include/$h" "$links/$h"
done

cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DZUV_MINGW_ROOT="$mingw_root" \
  -DZUV_HEADER_LINKS="$links" -DZUV_SQLITE_DIR="$out/sqlite" "${launcher[@]}" >/dev/null
cmake --build "$out" -j "$jobs" "$@"

# Every program must stand alone on Windows: system DLLs only.
bad=0
while IFS= read -r exe; do
  dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z')
  for d in $dlls; do
    case $d in
      kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll|ws2_32.dll|mswsock.dll|shell32.dll|ole32.dll|bcrypt.dll|ucrtbase.dll|api-ms-win-*) ;;
      *) echo "$exe imports $d" >&2; bad=1 ;;
    esac
  done
done < <(find "$out" -name '*.exe' -not -path "$out/googletest/*" -not -path '*/CMakeFiles/*' \
           -not -path "$out/_CPack_Packages/*" -not -name 'zuv-fiscal-*')
[ $bad -eq 0 ] || { echo "build-win: a program needs a DLL Windows does not have" >&2; exit 1; }
echo "build-win: Windows programs in $out"

# --- The installer and the zip (CPack: NSIS and ZIP), on a whole build ---
[ $# -eq 0 ] || exit 0
(cd "$out" && cpack -C RelWithDebInfo >/dev/null)
sizes=("$out/cli/zuv.exe")
[ -f "$out/server/zuv-server.exe" ] && sizes+=("$out/server/zuv-server.exe")
sizes+=("$out"/zuv-fiscal-*-win64.exe "$out"/zuv-fiscal-*-win64.zip)
stripped=$out/stripped.exe
echo "build-win: sizes (a program as built, with debugging data, and stripped as packaged)"
for f in "${sizes[@]}"; do
  size=$(stat -c %s "$f") note=""
  if [[ $f == */zuv*.exe && $f != */zuv-fiscal-* ]]; then
    x86_64-w64-mingw32-strip -o "$stripped" "$f"
    note="  stripped $(( ($(stat -c %s "$stripped") + 512) / 1024 )) KiB"
  fi
  printf '  %-32s %6s KiB%s\n' "${f#"$out"/}" "$(( (size + 512) / 1024 ))" "$note"
done
rm -f "$stripped"
# --- end of the installer and the zip ---
