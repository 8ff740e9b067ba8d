#!/usr/bin/env bash
# Installs every Debian package that building, testing and running ZK News Reader need.
# Idempotent: packages already present are not touched, and apt-get update runs only
# when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev
  libpcre2-dev libsqlite3-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  inn2 apache2-utils iproute2 openssl
  xvfb xauth imagemagick
  desktop-file-utils appstream man-db dpkg-dev file
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

# inn2 counts as present once unpacked: the news-server script finishes its configuration.
is_present() {
  local status
  status=$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) || return 1
  [ "$status" = "install ok installed" ] && return 0
  [ "$1" = inn2 ] && [[ "$status" == "install ok "* ]]
}

missing=()
for pkg in "${packages[@]}"; do
  is_present "$pkg" || missing+=("$pkg")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
# inn2's postinst fails when the host name has no domain part; the news-server
# script finishes its configuration, so a half-configured inn2 is tolerated here.
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null || {
  "${sudo_cmd[@]}" dpkg --configure -a >/dev/null 2>&1 || true
  for pkg in "${missing[@]}"; do
    if ! is_present "$pkg"; then
      echo "setup: could not install $pkg" >&2
      exit 1
    fi
  done
}
