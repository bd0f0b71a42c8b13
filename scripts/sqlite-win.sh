#!/usr/bin/env bash
# Puts SQLite's amalgamation (sqlite3.c, sqlite3.h) into DEST for the
# Windows build, made from Debian's own `sqlite3` source package. Debian has
# no SQLite for mingw; its source package is the same SQLite the Linux build
# links. The machine's apt set-up is left as it is: a private sources list
# and package lists in a temporary folder. Nothing is fetched when DEST
# already holds the amalgamation.
# Usage: scripts/sqlite-win.sh DEST
set -euo pipefail
dest=${1:?usage: sqlite-win.sh DEST}
if [ -f "$dest/sqlite3.c" ] && [ -f "$dest/sqlite3.h" ]; then
  exit 0
fi

work=$(mktemp -d /tmp/zuv-sqlite.XXXXXX)
trap 'rm -rf "$work"' EXIT

# The suite the machine itself uses, so the source matches its libsqlite3.
suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
mkdir -p "$work/lists/partial"
cat >"$work/sources.list" <<EOF
deb-src http://deb.debian.org/debian $suite main
deb-src http://deb.debian.org/debian-security $suite-security main
deb-src http://deb.debian.org/debian $suite-updates main
EOF
apt_private=(-o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
             -o Dir::State::Lists="$work/lists" -o Dir::Cache::Archives="$work")
apt-get "${apt_private[@]}" update >"$work/update.log" 2>&1 ||
  { cat "$work/update.log" >&2; echo "sqlite-win: cannot read deb.debian.org's source lists" >&2; exit 1; }
(cd "$work" && apt-get "${apt_private[@]}" source --download-only sqlite3 >"$work/source.log" 2>&1) ||
  { cat "$work/source.log" >&2; echo "sqlite-win: cannot fetch the sqlite3 source package" >&2; exit 1; }

orig=$(ls "$work"/sqlite3_*.orig.tar.* | head -n 1)
mkdir -p "$work/src"
tar -xf "$orig" -C "$work/src" --strip-components=1
if [ -f "$work/src/sqlite3.c" ]; then
  amalgamation=$work/src
else
  # A canonical source tree: its makefile builds the amalgamation (tclsh).
  command -v tclsh >/dev/null || { echo "sqlite-win: making sqlite3.c needs tclsh (package tcl)" >&2; exit 1; }
  mkdir -p "$work/bld"
  (cd "$work/bld" && ../src/configure --disable-tcl >"$work/configure.log" 2>&1 &&
     make sqlite3.c >"$work/make.log" 2>&1) ||
    { tail -n 30 "$work"/*.log >&2; echo "sqlite-win: making the amalgamation failed" >&2; exit 1; }
  amalgamation=$work/bld
fi
mkdir -p "$dest"
cp "$amalgamation/sqlite3.c" "$amalgamation/sqlite3.h" "$dest/"
echo "sqlite-win: $(basename "$orig") -> $dest"
