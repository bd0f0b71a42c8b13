# Debian packages the build and the tests need; installed only when missing.
ZUV_PACKAGES="cmake g++ make libgtest-dev qt6-base-dev xvfb xauth libcli11-dev nlohmann-json3-dev clang libclang-rt-14-dev"

install_deps() {
  local missing=()
  for p in $ZUV_PACKAGES; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
}
