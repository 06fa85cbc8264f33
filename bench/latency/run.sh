#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The latency benchmark (make bench-latency), as root: two network namespaces joined by a
# forwarder that holds every packet 40 ms each way, nginx serving HTML pages and dnsmasq
# answering every name under bench.test on the far side, and bench_latency in the near one.
# Usage: bench/latency/run.sh BUILD_DIR [PAGES]
# The pages are the real ones of ../shared/realpages (or REALPAGES) when there, made up
# otherwise, served compressed as web servers serve them (GZIP=off: whole). With HTTPS=1 the
# far side is the web of today: every http page answers with a 301 to its https address, nginx
# speaks TLS 1.2 and 1.3 with a certificate of a test CA that only the benchmark trusts, and
# every other host sends Strict-Transport-Security. Everything it sets up is taken down when it
# ends.
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

https=${HTTPS:-0}
servers="server { listen 10.77.0.2:80 default_server; root $work/pages; }"
if [ "$https" = 1 ]; then
  # A CA of the benchmark's own, and a certificate for every host under bench.test.
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca.key" -out "$work/ca.pem" \
    -days 2 -subj "/CN=bench CA" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -keyout "$work/site.key" -out "$work/site.csr" \
    -subj "/CN=bench.test" 2>/dev/null
  printf 'subjectAltName=DNS:bench.test,DNS:*.bench.test\n' >"$work/site.ext"
  openssl x509 -req -in "$work/site.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" \
    -CAcreateserial -out "$work/site.pem" -days 2 -extfile "$work/site.ext" 2>/dev/null
  servers="
  map \$host \$sts { ~^h[0-9]*[02468][.] \"max-age=31536000\"; default \"\"; }
  log_format tls '\$server_port \$connection \$ssl_protocol \$ssl_session_reused';
  server { listen 10.77.0.2:80 default_server; access_log $work/access.log tls;
    return 301 https://\$host\$request_uri; }
  server { listen 10.77.0.2:443 ssl default_server; root $work/pages;
    access_log $work/access.log tls;
    ssl_certificate $work/site.pem; ssl_certificate_key $work/site.key;
    ssl_protocols TLSv1.2 TLSv1.3; ssl_session_cache shared:tls:10m;
    add_header Strict-Transport-Security \$sts; }"
fi

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
  $servers
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
  [ "$https" = 1 ] &&
    ip netns exec "$near" curl -sf -o /dev/null --cacert "$work/ca.pem" \
      https://one.bench.test/p1.html && break
  sleep 0.1
done

if [ "$https" = 1 ]; then
  ip netns exec "$near" env -u http_proxy -u https_proxy -u HTTPS_PROXY -u all_proxy -u ALL_PROXY \
    BENCH_CA="$work/ca.pem" BENCH_ACCESS_LOG="$work/access.log" \
    "$build/bin/bench_latency" --https bench.test "$pages"
  exit
fi
ip netns exec "$near" env -u http_proxy -u https_proxy -u HTTPS_PROXY -u all_proxy -u ALL_PROXY \
  "$build/bin/bench_latency" bench.test "$pages"
