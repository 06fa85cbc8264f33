#!/usr/bin/env bash
# Starts Korvane under a virtual X display with a sample watch list and writes a PNG.
# Usage: scripts/screenshot.sh <korvane binary> <output.png> [xdotool commands...]
# Extra arguments are xdotool command lines run before the picture is taken (e.g. a click that
# opens a dialog). With SHOT_WINDOW set to a window title pattern only that window is taken,
# otherwise the whole screen.
set -euo pipefail
binary=$(readlink -f "$1")
out=$(readlink -f "$2")
shift 2

if [ -z "${DISPLAY:-}" ] || [ -z "${KORVANE_IN_XVFB:-}" ]; then
  export KORVANE_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 640x560x24" "$0" "$binary" "$out" "$@"
fi

work=$(mktemp -d)
trap 'kill "${pid:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
cp "$binary" "$work/korvane"
printf '%s\r\n' \
  "www.debian.org" "07/12/2026 09:14:02" "24711" \
  "news.ycombinator.com" "07/12/2026 09:14:03" "3390" \
  "www.kernel.org" "07/12/2026 09:14:05" "8121" \
  "lwn.net/Archives" "07/12/2026 09:14:06" "11812" \
  "www.qt.io/blog" "07/12/2026 09:14:08" "5610" \
  > "$work/websites.ini"
mkdir -p -m700 "$work/runtime"
XDG_RUNTIME_DIR="$work/runtime" "$work/korvane" &
pid=$!
for _ in $(seq 50); do
  xdotool search --name '^Korvane$' >/dev/null 2>&1 && break
  sleep 0.1
done
sleep 1
for command in "$@"; do
  # shellcheck disable=SC2086
  xdotool $command
  sleep 0.5
done
target=root
if [ -n "${SHOT_WINDOW:-}" ]; then
  target=$(xdotool search --onlyvisible --name "$SHOT_WINDOW" | tail -n 1)
fi
import -window "$target" "$out"
