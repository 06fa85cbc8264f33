#!/usr/bin/env bash
# Brings every Debian package that building, running, testing, benchmarking, fuzzing and packaging
# Korvane need, and only those that are missing: on a machine that has them all it does nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-svg-dev libqt6svg6 libxkbcommon-dev
  libcurl4-openssl-dev curl ca-certificates xdg-utils
  libcpp-httplib-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  clang-format
  xvfb xauth xdotool x11-apps imagemagick
  fonts-dejavu-core fonts-liberation2
  dpkg-dev lintian desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
  # dpkg-query prints "install ok installed" only for a fully installed package.
  if [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" != "install ok installed" ]; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get -o DPkg::Lock::Timeout=300 update -qq
"${sudo[@]}" apt-get -o DPkg::Lock::Timeout=300 install -y -qq --no-install-recommends "${missing[@]}"
