#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The latency benchmark (make bench-latency), as root: two network namespaces joined by a
# forwarder that holds every packet 40 ms each way, nginx serving HTML pages and dnsmasq
# answering every name under bench.test on the far side, and bench_latency in the near one.
# Usage: bench/latency/run.sh BUILD_DIR [PAGES]
# The pages are the real ones of ../shared/realpages (or REALPAGES) when there, made up
# otherwise, served compressed as web servers serve them (GZIP=off: whole). Everything it sets
# up is taken down when it ends.
set -euo pipefail
build=$(readlink -f "$1")
pages=${2:-100}
here=$(dirname "$(readlink -f "$0")")
realpages=${REALPAGES:-$here/../../../shared/realpages}
[ "$(id -u)" -eq 0 ] || {
  echo "bench-latency: needs root for its network namespaces" >&2
  exit 2
}

near=korvane-near far=korvane-far device=korvlat
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  ip netns del "$near" 2>/dev/null || true
  ip netns del "$far" 2>/dev/null || true
  rm -rf "/etc/netns/$near" "$work"
}
trap cleanup EXIT

ip netns add "$near"
ip netns add "$far"
ip -n "$near" link set lo up
ip -n "$far" link set lo up
"$build/bin/latency_forwarder" "$near" "$far" "$device" 40 >"$work/forwarder" &
pids+=($!)
for _ in $(seq 100); do grep -q ready "$work/forwarder" 2>/dev/null && break; sleep 0.05; done
grep -q ready "$work/forwarder" || { echo "bench-latency: the forwarder did not start" >&2; exit 1; }
ip -n "$near" addr add 10.77.0.1/24 dev "$device"
ip -n "$far" addr add 10.77.0.2/24 dev "$device"
ip -n "$near" link set "$device" up
ip -n "$far" link set "$device" up

mkdir "$work/pages"
if [ -d "$realpages" ]; then
  i=0
  for page in "$realpages"/*.html.gz; do
    [ "$i" -ge "$pages" ] && break
    i=$((i + 1))
    gunzip -c "$page" >"$work/pages/p$i.html"
  done
  echo "pages: $i real ones from $realpages"
fi
for i in $(seq "$pages"); do
  [ -e "$work/pages/p$i.html" ] && continue
  {
    echo "<html><head><title>Page $i</title></head><body>"
    for j in $(seq 300); do echo "<p class=\"item\">Paragraph $j of page $i, with some words.</p>"; done
    echo "</body></html>"
  } >"$work/pages/p$i.html"
done
chmod -R a+rX "$work"

cat >"$work/nginx.conf" <<CONF
daemon off;
pid $work/nginx.pid;
error_log $work/nginx.log;
worker_processes 1;
events { worker_connections 1024; }
http {
  include /etc/nginx/mime.types;
  access_log off;
  keepalive_requests 100000;
  # As the web serves pages; GZIP=off sends them whole.
  gzip ${GZIP:-on};
  gzip_min_length 256;
  server { listen 10.77.0.2:80 default_server; root $work/pages; }
}
CONF
ip netns exec "$far" nginx -c "$work/nginx.conf" &
pids+=($!)
ip netns exec "$far" dnsmasq --keep-in-foreground --no-resolv --no-hosts --bind-interfaces \
  --listen-address=10.77.0.2 --address=/bench.test/10.77.0.2 --user=root \
  --pid-file="$work/dnsmasq.pid" &
pids+=($!)
# ip netns exec puts this file in place of /etc/resolv.conf for what runs in the namespace.
mkdir -p "/etc/netns/$near"
echo "nameserver 10.77.0.2" >"/etc/netns/$near/resolv.conf"
for _ in $(seq 100); do
  ip netns exec "$near" curl -sf -o /dev/null http://one.bench.test/p1.html && break
  sleep 0.1
done

ip netns exec "$near" env -u http_proxy -u https_proxy -u HTTPS_PROXY -u all_proxy -u ALL_PROXY \
  "$build/bin/bench_latency" bench.test "$pages"
