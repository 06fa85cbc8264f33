#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# CI's Debian 13 stage: the README's `make test` on a fresh Debian 13 (trixie) system, made with
# debootstrap --variant=minbase, into which only git and make go by hand; the command installs
# everything else itself. The bare system is made once per machine and kept in CACHE (with the
# packages apt downloads), and every run starts from a new copy of it, so each run is fresh.
# Needs root. A machine that cannot run it fails the stage: it never passes in silence.
# Usage: scripts/ci-debian13.sh [COMMAND]   (default: make test; run in the source folder)
# CACHE is $KORVANE_CHROOT_CACHE, by default /var/cache/korvane-ci.
set -euo pipefail
cd "$(dirname "$0")/.."
fail() {
  echo "ci-debian13: $*" >&2
  exit 1
}
[ "$(id -u)" -eq 0 ] || fail "cannot run: debootstrap and chroot need root"
./scripts/install-deps.sh chroot >/dev/null || fail "cannot run: debootstrap did not install"
command -v debootstrap >/dev/null || fail "cannot run: no debootstrap"

cache=${KORVANE_CHROOT_CACHE:-/var/cache/korvane-ci}
base=$cache/trixie-minbase
mkdir -p "$cache/apt-archives/partial"
if [ ! -e "$base/.complete" ]; then
  rm -rf "$base.new"
  debootstrap --variant=minbase --include=git,make,ca-certificates trixie "$base.new" >"$cache/debootstrap.log" 2>&1 ||
    fail "debootstrap failed; see $cache/debootstrap.log"
  touch "$base.new/.complete"
  rm -rf "$base"
  mv "$base.new" "$base"
fi

root=$(mktemp -d /var/tmp/korvane-debian13.XXXXXX)
mounted=()
cleanup() {
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" || true; done
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT
cp -a "$base/." "$root/"
rm "$root/.complete"
# mountIn [OPTION...] SOURCE POINT: mounts SOURCE on POINT inside the new system.
mountIn() {
  local point=$root${*: -1}
  mount "${@:1:$#-1}" "$point"
  mounted+=("$point")
}
mountIn -t proc proc /proc
mountIn -t sysfs sysfs /sys
mountIn --bind /dev /dev
mountIn --bind /dev/pts /dev/pts
mountIn -t tmpfs tmpfs /dev/shm
mountIn --bind "$cache/apt-archives" /var/cache/apt/archives
cp /etc/resolv.conf "$root/etc/resolv.conf"

# The tracked files as they stand, as a fresh clone would have them.
mkdir -p "$root/src/korvane"
git ls-files -z | tar -c --null -T - | tar -x -C "$root/src/korvane"

command=${1:-make test}
echo "Debian $(cat "$root/etc/debian_version") in $root: $command"
chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  bash -c "cd /src/korvane && $command"
