#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks the built Debian package as a desktop meets it: lintian, the menu entry, the AppStream
# metadata, and the unpacked program started offscreen with a home of its own, where it must
# come up with a per-user list and answer a second start. lintian --pedantic looks at the
# source package too, through the .changes that dpkg-buildpackage left beside the .deb.
# Usage: scripts/check-package.sh [korvane_<version>_amd64.deb]  (default: the one in build-package)
set -euo pipefail
cd "$(dirname "$0")/.."
deb=${1:-$(ls build-package/korvane_*_amd64.deb)}
fail() { echo "check-package: $*" >&2; exit 1; }

echo "Package: $deb"
depends=$(dpkg-deb -f "$deb" Depends)
recommends=$(dpkg-deb -f "$deb" Recommends)
echo "Depends: $depends"
echo "Recommends: $recommends"
changes=${deb%.deb}.changes
[ -e "$changes" ] || changes=$deb
lintian --pedantic --display-info --fail-on error,warning "$changes"

# What the program needs beyond its libraries is required, the rest recommended, and every name
# is one that apt knows: a misspelt Recommends installs nothing and says nothing.
names() { sed 's/([^)]*)//g; s/[,|]/\n/g' <<<"$1" | tr -d ' ' | grep -v '^$'; }
for needed in ca-certificates xdg-utils; do
  names "$depends" | grep -qx "$needed" || fail "Depends lacks $needed"
done
# The window's icon needs Qt's SVG icon engine, which no library links: the package that holds
# it on this release must be named.
engine=$(dpkg-query -S '*/qt6/plugins/iconengines/libqsvgicon.so' | cut -d: -f1)
names "$depends" | grep -qx "$engine" || fail "Depends lacks $engine, the SVG icon engine"
names "$recommends" | grep -qx qt6-wayland || fail "Recommends lacks qt6-wayland"
# Of alternatives (a | b) one is enough: the other may be another release's name.
for group in $(sed 's/([^)]*)//g; s/,/\n/g' <<<"$depends, $recommends" | tr -d ' '); do
  known=
  for name in ${group//|/ }; do
    apt-cache show --no-all-versions "$name" >/dev/null 2>&1 && known=$name
  done
  [ -n "$known" ] || fail "apt knows no package $group"
done

root=$(mktemp -d)
pid=
cleanup() {
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  rm -rf "$root"
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$root/pkg"
# The help comes with the program, and nothing in the package sends users to a host the
# project does not own.
[ -s "$root/pkg/usr/share/korvane/help.html" ] || fail "no help page in the package"
if grep -rIl 'korvane\.com' "$root/pkg" || dpkg-deb -I "$deb" | grep -q 'korvane\.com'; then
  fail "the package names a host the project does not own"
fi
desktop-file-validate "$root/pkg/usr/share/applications/com.korvane.Korvane.desktop"
appstreamcli validate --no-net "$root/pkg/usr/share/metainfo/com.korvane.Korvane.metainfo.xml"

# Nothing of the real user's is touched: a private home, runtime directory and no XDG overrides.
# The unpacked bin/ can be written, as ~/.local/bin can: the list still goes to the home.
mkdir -p "$root/home"
mkdir -m 700 "$root/runtime"
korvane=(env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u XDG_CACHE_HOME HOME="$root/home"
  XDG_RUNTIME_DIR="$root/runtime" QT_QPA_PLATFORM=offscreen "$root/pkg/usr/bin/korvane")
"${korvane[@]}" 2>/dev/null &
pid=$!
list="$root/home/.local/share/Korvane/websites.ini"
for _ in $(seq 300); do
  [ -s "$list" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
[ -s "$list" ] || fail "the installed program made no list in ~/.local/share/Korvane"
kill -0 "$pid" 2>/dev/null || fail "the installed program did not stay up"
[ "$(ls "$root/pkg/usr/bin")" = korvane ] || fail "files beside the installed program"

before=$(sha256sum "$list")
timeout 30 "${korvane[@]}" 2>/dev/null ||
  fail "a second start did not end with status 0"
[ "$(sha256sum "$list")" = "$before" ] || fail "a second start changed the list"
kill -0 "$pid" 2>/dev/null || fail "the first program ended after the second start"

# Asked to end, it saves its list and ends with status 0, as when its window closes.
kill -TERM "$pid"
for _ in $(seq 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "the program did not end on SIGTERM"
status=0
wait "$pid" || status=$?
pid=
[ "$status" -eq 0 ] || fail "the program ended with status $status on SIGTERM"
echo "check-package: $deb passed"
