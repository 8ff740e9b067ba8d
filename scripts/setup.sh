#!/usr/bin/env bash
# Installs every Debian package that building, testing and running ZK News Reader need.
# Idempotent: packages already present are not touched, and apt-get update runs only
# when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev
  libpcre2-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  inn2 apache2-utils
  xvfb xauth imagemagick
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

missing=()
for pkg in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
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
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok'; then
      if [ "$pkg" != inn2 ]; then
        echo "setup: could not install $pkg" >&2
        exit 1
      fi
    fi
  done
}
