#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Takes a picture of Korvane as docs/korvane.png shows it: the sample watch list after a check.
# Usage: scripts/screenshot.sh <korvane binary> <output.png> [xdotool commands...]
# The program runs under a virtual X display in a network of its own that has only loopback, so
# nothing leaves the machine: a small proxy on 127.0.0.1 plays the sample sites. Korvane checks
# the list twice (the first check stores each page's length, and between the two the proxy
# changes one page and drops another), so the picture shows every kind of result. Extra
# arguments are xdotool command lines run before the picture is taken (e.g. a click that opens a
# dialog). With SHOT_WINDOW set to a window title pattern only that window is taken, otherwise
# the whole screen.
set -euo pipefail
binary=$(readlink -f "$1")
out=$(readlink -f "$2")
shift 2

if [ -z "${KORVANE_SHOT_INSIDE:-}" ]; then
  export KORVANE_SHOT_INSIDE=1
  # A user namespace makes the private network possible without root.
  exec unshare --map-root-user --net "$0" "$binary" "$out" "$@"
fi
if [ -z "${DISPLAY:-}" ] || [ -z "${KORVANE_IN_XVFB:-}" ]; then
  ip link set lo up
  export KORVANE_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 640x560x24" "$0" "$binary" "$out" "$@"
fi

work=$(mktemp -d)
trap 'kill ${pid:-} ${proxy:-} 2>/dev/null || true; wait; rm -rf "$work"' EXIT

# The sample sites as the proxy plays them: a page that stays, one that changes at the second
# check, one that is gone by then, and one whose host never answers.
python3 - "$work/port" <<'EOF' &
import http.server, os, sys, urllib.parse

def page(title, words):
    body = " ".join(words)
    return (f"<html><head><title>{title}</title></head>"
            f"<body><h1>{title}</h1><p>{body}</p></body></html>")

SITES = {
    "www.debian.org": [page("Debian", ["The universal operating system."] * 40),
                       page("Debian", ["The universal operating system, now with news."] * 40)],
    "news.ycombinator.com": [page("Hacker News", ["Stories and comments."] * 25)],
    "www.kernel.org": [page("The Linux Kernel Archives", ["Latest stable release."] * 30)],
    "lwn.net": [page("LWN.net Archives", ["Weekly edition index."] * 35), None],
    "www.qt.io": None,
}
seen = {}

class Proxy(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        host = urllib.parse.urlsplit(self.path).hostname or ""
        versions = SITES.get(host)
        if versions is None:
            self.send_error(502, "No answer from " + host)
            return
        visit = seen.get(host, 0)
        seen[host] = visit + 1
        text = versions[min(visit, len(versions) - 1)]
        if text is None:
            self.send_error(404)
            return
        data = text.encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def log_message(self, *args):
        pass

server = http.server.HTTPServer(("127.0.0.1", 0), Proxy)
with open(sys.argv[1] + ".new", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(sys.argv[1] + ".new", sys.argv[1])
server.serve_forever()
EOF
proxy=$!
for _ in $(seq 50); do
  [ -s "$work/port" ] && break
  sleep 0.1
done

cp "$binary" "$work/korvane"
printf '%s\r\n' \
  "www.debian.org" "" "" \
  "news.ycombinator.com" "" "" \
  "www.kernel.org" "" "" \
  "lwn.net/Archives" "" "" \
  "www.qt.io/blog" "" "" \
  > "$work/websites.ini"
mkdir -m700 "$work/runtime"
http_proxy="http://127.0.0.1:$(cat "$work/port")" no_proxy='' NO_PROXY='' \
  DBUS_SESSION_BUS_ADDRESS=disabled: XDG_RUNTIME_DIR="$work/runtime" "$work/korvane" &
pid=$!
window=
for _ in $(seq 50); do
  window=$(xdotool search --name '^Korvane$' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "screenshot: no Korvane window" >&2; exit 1; }
sleep 1

# Go Look! and wait for the list to be saved, which ends every check. The save comes just before
# the window takes clicks again, so the next click waits a moment.
check() {
  local before
  before=$(sha256sum <"$work/websites.ini")
  xdotool mousemove --window "$window" 56 103 click 1 mousemove 0 0
  for _ in $(seq 100); do
    if [ "$(sha256sum <"$work/websites.ini")" != "$before" ]; then
      sleep 1
      return
    fi
    sleep 0.1
  done
  echo "screenshot: the check did not end" >&2
  exit 1
}
check
check

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
