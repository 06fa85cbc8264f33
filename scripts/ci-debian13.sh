#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# CI's Debian 13 stage: what a Debian developer does with the source package, on a fresh Debian 13
# (trixie) system made with debootstrap --variant=minbase, into which only git and make go by
# hand: the Build-Depends alone (apt-get build-dep), dpkg-buildpackage, the .deb installed by apt
# without its Recommends, its autopkgtest tests, and scripts/check-package.sh (lintian --pedantic
# included).
# The bare system is made once per machine and kept in CACHE (with the packages apt downloads),
# and every run starts from a new copy of it, so each run is fresh.
# Needs root. A machine that cannot run it fails the stage: it never passes in silence.
# Usage: scripts/ci-debian13.sh [COMMAND]   (default: the steps above; run in the source folder)
# CACHE is $KORVANE_CHROOT_CACHE, by default /var/cache/korvane-ci. KORVANE_CI_RELEASE=bookworm
# does the same on a fresh Debian 12.
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
release=${KORVANE_CI_RELEASE:-trixie}
base=$cache/$release-minbase
# One folder of downloaded packages per release, so that runs on two releases can share CACHE.
mkdir -p "$cache/apt-archives-$release/partial"
if [ ! -e "$base/.complete" ]; then
  rm -rf "$base.new"
  debootstrap --variant=minbase --include=git,make,ca-certificates "$release" "$base.new" \
    >"$cache/debootstrap-$release.log" 2>&1 || fail "debootstrap failed; see $cache/debootstrap-$release.log"
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
mountIn --bind "$cache/apt-archives-$release" /var/cache/apt/archives
cp /etc/resolv.conf "$root/etc/resolv.conf"

# The tracked files as they stand, as a fresh clone would have them.
mkdir -p "$root/src/korvane"
git ls-files -z | tar -c --null -T - | tar -x -C "$root/src/korvane"

# Every step is shown as it runs, with the time it started. The autopkgtest tests run from the
# source package, as Debian's CI runs them; autopkgtest's exit status 2 ("a test was skipped")
# fails the stage too: both tests must run. check-package.sh runs lintian --pedantic on the
# .changes, so on the source package and the .deb.
read -r -d '' steps <<'EOF' || true
PS4='+ $(date +%T) '
set -euxo pipefail
apt() { apt-get -o DPkg::Lock::Timeout=300 -y -qq --no-install-recommends "$@"; }
export DEBIAN_FRONTEND=noninteractive
apt update
apt install dpkg-dev
apt build-dep ./
dpkg-buildpackage -us -uc
cd ..
apt install ./korvane_*_amd64.deb
apt install autopkgtest lintian desktop-file-utils appstream
autopkgtest korvane_*_amd64.deb korvane_*.dsc -- null
korvane/scripts/check-package.sh "$PWD"/korvane_*_amd64.deb
EOF
command=${1:-$steps}
echo "Debian $(cat "$root/etc/debian_version") in $root"
chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  bash -c "cd /src/korvane && $command"
