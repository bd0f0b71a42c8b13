# Debian packages the build and the tests need; installed only when missing.
# The print service adds Boost (Beast and Asio, header-only), SQLite and toml++; its browser tests
# use Debian's Chromium through Selenium; the package checks need lintian,
# dpkg-dev and systemd's analyzer; the window-title test talks to Xvfb through libxcb.
# The Windows build takes mingw-w64 (posix threads) and GoogleTest's sources,
# and its tests run under wine; NSIS is for the Windows installer, tcl makes
# SQLite's amalgamation for it and curl drives the Windows service's tests.
ZUV_PACKAGES="cmake g++ make libgtest-dev qt6-base-dev xvfb xauth libxcb1-dev libcli11-dev nlohmann-json3-dev clang libclang-rt-14-dev
  libboost1.81-dev libsqlite3-dev libtomlplusplus-dev chromium chromium-driver python3-selenium
  lintian dpkg-dev file systemd
  ninja-build googletest g++-mingw-w64-x86-64-posix wine wine64 nsis tcl curl"

# Installs the packages named (all of the above without a name) that are missing.
install_deps() {
  local missing=()
  for p in ${1:-$ZUV_PACKAGES}; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
}
