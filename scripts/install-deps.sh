#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Brings the Debian packages that one kind of work on Korvane needs, and only those that are
# missing: on a machine that has them all it does nothing.
# Usage: scripts/install-deps.sh [PROFILE...]   (default: all)
#   run      build the program and start it
#   test     also the test suite: a loopback HTTP server, RapidCheck, a virtual X display,
#            xdotool, an X client library to close a window as a window manager does, and a
#            D-Bus daemon for a private session bus
#   bench    also Google Benchmark, the curl command the benchmarks compare against, and time
#   latency  also nginx, dnsmasq and iproute2, for the latency benchmark's far-away hosts
#   fuzz     also clang and its libFuzzer and sanitizer runtimes
#   package  also git (the package's date), debhelper, lintian and the menu and metadata
#            checkers
#   chroot   also debootstrap, which makes the fresh Debian 13 system CI builds and tests in
#   all      every one of the above, clang-format, and what scripts/screenshot.sh uses
set -euo pipefail

# The window's text needs fonts on the machine; these are the ones the program prefers.
# libxkbcommon-dev only quiets Qt's CMake files, which look for it. With libxcb1-dev the program
# asks, before Qt does, whether an X display answers. The window's icon is drawn by Qt's SVG
# icon engine: Debian 12 has it in libqt6svg6, which qt6-svg-dev brings, and later releases in a
# package of its own.
run=(build-essential cmake ninja-build qt6-base-dev qt6-svg-dev libxkbcommon-dev
  libcurl4-openssl-dev libssl-dev libxcb1-dev ca-certificates xdg-utils fonts-dejavu-core
  fonts-liberation2)
# shellcheck source=/dev/null
. /etc/os-release
[ "${ID:-}" = debian ] && [ "${VERSION_ID:-}" = 12 ] || run+=(qt6-svg-plugins)
# faketime puts a test's clock off from the file system's; acl gives a list an ACL to keep.
test=("${run[@]}" pkg-config libcpp-httplib-dev zlib1g-dev xvfb xauth xdotool libxcb1-dev
  librapidcheck-dev libbrotli-dev libzstd-dev dbus-daemon faketime acl)
bench=("${run[@]}" pkg-config libcpp-httplib-dev zlib1g-dev libbenchmark-dev curl time)
latency=("${bench[@]}" nginx dnsmasq-base iproute2 openssl)
# libclang-rt-dev is the sanitizer and libFuzzer runtimes of the release's own clang.
fuzz=("${run[@]}" clang libclang-rt-dev)
package=("${run[@]}" git dpkg-dev debhelper lintian desktop-file-utils appstream)
chroot=(debootstrap)
# shellcheck disable=SC2034 # read by name below
all=("${test[@]}" "${bench[@]}" "${latency[@]}" "${fuzz[@]}" "${package[@]}" "${chroot[@]}"
  clang-format imagemagick x11-apps python3 iproute2)

packages=()
for profile in "${@:-all}"; do
  case $profile in
    run | test | bench | latency | fuzz | package | chroot | all) ;;
    *)
      echo "install-deps: no profile '$profile' (run, test, bench, latency, fuzz, package," \
        "chroot, all)" >&2
      exit 2
      ;;
  esac
  declare -n list=$profile
  packages+=("${list[@]}")
done

missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
  # dpkg-query prints "install ok installed" only for a fully installed package.
  if [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" != "install ok installed" ]; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    # A Debian installed with a root password has no sudo: say what to run as root, and stop.
    cat >&2 <<EOF
install-deps: these Debian packages are missing: ${missing[*]}
Neither root nor sudo is at hand. Run this once, with root's password, then the same command again:
  su -c 'apt-get update && apt-get install --no-install-recommends ${missing[*]}'
EOF
    exit 1
  fi
  sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get -o DPkg::Lock::Timeout=300 update -qq
"${sudo[@]}" apt-get -o DPkg::Lock::Timeout=300 install -y -qq --no-install-recommends "${missing[@]}"
