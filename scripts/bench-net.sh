#!/usr/bin/env bash
# Real sites on this machine only: a network namespace of its own, where every packet leaving a
# socket waits --delay ms (50 unless told: a round trip of twice that), by netem where the
# kernel has it, else by vantorel_net_delay on a netfilter queue. 1,000 host names, in a hosts
# file that only the namespace sees, serve pages that answer after 200 ms, over HTTP (the page
# server) and HTTPS (nginx in front of it, with a certificate of a test authority made here).
# nginx's own hop to the page server is not delayed where the delayer can tell it apart (the
# NFQUEUE one): a page costs the round trips a client makes and no more.
# The site the pages link to, example.com, is nginx on 127.0.0.252:80 in front of the page server,
# so that the program's check of that target costs a real request.
# `vantorel --check` (with its target checks, and as "vantorel-nt" without them,
# --no-target-check) and `curl --parallel` fetch the same list at the same --jobs, and so does
# linkinator (a link checker that parses each page) where one is on the PATH or named by
# LINKINATOR; each case is run --runs times (5 unless told), the tools in turn within each round,
# and the medians printed: wall time,
# CPU time per page, peak resident set, and the pages had (有效 rows, or HTTP 200 for the
# others). Every tool verifies HTTPS against the system's certificates with the test authority
# added, curl as Debian's curl does out of the box (the bundle and the certificate directory);
# "curl-ca" trusts the test authority alone, a store of one certificate, curl at its fastest.
#
#   scripts/bench-net.sh [--runs N] [--delay MS] [--prebuilt DIR] [case ...]
#
# --prebuilt DIR takes the programs from DIR (laid out as build/) and builds nothing.
#
# Cases: https, http, zero (1,000 pages on 100 hosts by address, at once), big (200 pages of
# 2 MB on 200 hosts, --jobs 200), dead (1,000 named hosts, every tenth never answers a
# connection, default retries and a 10 s connect time-out). All of them unless named.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=5
delay=50
build=""
cases=()
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --delay) delay="$2"; shift 2 ;;
    --prebuilt) build="$2"; shift 2 ;;
    *) cases+=("$1"); shift ;;
  esac
done
[ ${#cases[@]} -gt 0 ] || cases=(https http zero big dead)
if [ "$(id -u)" -ne 0 ]; then
  echo "bench-net.sh makes a network namespace: run it as root" >&2
  exit 2
fi

# nginx serves HTTPS, libnetfilter-queue and iptables delay packets where netem is missing.
scripts/deps.sh curl time openssl python3 nginx-light iptables libnetfilter-queue-dev
if [ -z "$build" ]; then
  build=build
  cmake --preset default >/dev/null
  cmake --build build --target vantorel vantorel_page_server >/dev/null
  cmake --build build --target vantorel_net_delay >/dev/null 2>&1 || true
fi

ns="vantorel-bench-$$"
work="$(mktemp -d)"
pids=()
cleanup() {
  for fd in 7 8; do eval "exec $fd>&-" 2>/dev/null || true; done # page servers end with their input
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  ip netns del "$ns" 2>/dev/null || true
  rm -rf "/etc/netns/$ns" "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
inns() { ip netns exec "$ns" "$@"; }
inbg() { # in the namespace, in the background, ended by cleanup
  ip netns exec "$ns" "$@" <&0 &  # the caller's input, not /dev/null
  pids+=($!)
}

ip netns add "$ns"
inns ip link set lo up
# The delay holds each packet on its sender's account, where a real network holds it on the way:
# with autocorking, a sender's next small write would wait for the held packet to leave, 50 ms
# more whenever a response goes out in two writes (nginx's TLS records, its session tickets).
inns sysctl -qw net.ipv4.tcp_autocorking=0

# Names only the namespace resolves: 1,000 hosts on 250 loopback addresses, 100 dead ones, and
# the site the pages link to.
mkdir -p "/etc/netns/$ns"
{
  echo "127.0.0.1 localhost"
  echo "127.0.0.252 example.com"
  for n in $(seq 1 1000); do echo "127.0.0.$((1 + (n - 1) % 250)) h$n.bench.test"; done
  for n in $(seq 1 100); do echo "127.0.10.$n dead$n.bench.test"; done
} >"/etc/netns/$ns/hosts"

delayed_by="none"
if [ "$delay" -gt 0 ]; then
  if inns tc qdisc add dev lo root netem delay "${delay}ms" 2>/dev/null; then
    delayed_by="netem"
  elif [ -x "$build/bench/vantorel_net_delay" ] && inns iptables-legacy -A OUTPUT -d 127.0.0.251 -j ACCEPT &&
       inns iptables-legacy -A OUTPUT -s 127.0.0.251 -j ACCEPT &&
       inns iptables-legacy -A OUTPUT -j NFQUEUE --queue-num 0 --queue-bypass; then
    inbg "$build/bench/vantorel_net_delay" "$delay" >/dev/null
    delayed_by="vantorel_net_delay (NFQUEUE)"
  else
    echo "no way to delay packets here (no netem, no NFQUEUE): the round trip is the loopback's" >&2
  fi
fi

# A test authority and a certificate for every *.bench.test name.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=bench test CA" -days 1 \
  -keyout "$work/ca.key" -out "$work/ca.pem" 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=*.bench.test" \
  -keyout "$work/site.key" -out "$work/site.csr" 2>/dev/null
printf 'subjectAltName=DNS:*.bench.test\n' >"$work/site.ext"
openssl x509 -req -in "$work/site.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial -days 1 \
  -extfile "$work/site.ext" -out "$work/site.pem" 2>/dev/null
cat /etc/ssl/certs/ca-certificates.crt "$work/ca.pem" >"$work/cas.pem"

# Page servers in the namespace, each until its standard input (a pipe held open here) closes.
start_pages() { # fd size hosts pages; sets started_port
  mkfifo "$work/in$1"
  eval "exec $1<>$work/in$1" # read and write: opening it waits for no one
  inbg "$build/tests/vantorel_page_server" --hosts "$3" --pages "$4" --size "$2" <"$work/in$1" >"$work/port$1"
  for _ in $(seq 100); do [ -s "$work/port$1" ] && break; sleep 0.1; done
  started_port=$(head -1 "$work/port$1")
}
start_pages 7 20000 251 1000 # 127.0.0.251 for nginx alone
port=$started_port
start_pages 8 2000000 200 200
big_port=$started_port

cat >"$work/nginx.conf" <<EOF
user root;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/nginx.log;
daemon off;
worker_rlimit_nofile 65536;
events { worker_connections 16384; }
http {
  access_log off;
  upstream pages { server 127.0.0.251:$port; keepalive 1024; }
  server {
    listen 8443 ssl reuseport backlog=4096;
    ssl_certificate $work/site.pem;
    ssl_certificate_key $work/site.key;
    ssl_protocols TLSv1.2 TLSv1.3; # this nginx would offer 1.2 at most, a round trip more than most sites
    ssl_session_cache shared:tls:10m;
    location / { proxy_pass http://pages; proxy_http_version 1.1; proxy_set_header Connection ""; }
  }
  server {
    listen 127.0.0.252:80 backlog=4096;
    location / { proxy_pass http://pages; proxy_http_version 1.1; proxy_set_header Connection ""; }
  }
}
EOF
inbg nginx -c "$work/nginx.conf" -p "$work"

# Hosts that never answer a connection: each listens with a full accept queue.
inbg python3 - <<'EOF'
import socket, time
held = []
for n in range(1, 101):
    listener = socket.socket()
    listener.bind((f"127.0.10.{n}", 8099))
    listener.listen(0)
    for _ in range(4):
        filler = socket.socket()
        filler.setblocking(False)
        filler.connect_ex((f"127.0.10.{n}", 8099))
        held.append(filler)
    held.append(listener)
time.sleep(3600)
EOF
sleep 1
# The pages' link target must answer, or target checks would fail at once and measure nothing.
if [ "$(inns curl -s -o /dev/null -w '%{http_code}' --max-time 5 http://example.com/)" != 200 ]; then
  echo "the pages' link target, http://example.com/, does not answer in the namespace" >&2
  exit 1
fi

list() { # case -> one address a line
  case "$1" in
    https) for n in $(seq 1 1000); do echo "https://h$n.bench.test:8443/200/p$n"; done ;;
    http) for n in $(seq 1 1000); do echo "http://h$n.bench.test:$port/200/p$n"; done ;;
    zero) for n in $(seq 1 1000); do echo "http://127.0.0.$((1 + n % 100)):$port/0/p$n"; done ;;
    big) for n in $(seq 1 200); do echo "http://h$n.bench.test:$big_port/200/p$n"; done ;;
    dead) for n in $(seq 1 1000); do
        if [ $((n % 10)) -eq 0 ]; then echo "http://dead$((n / 10)).bench.test:8099/p$n"
        else echo "http://h$n.bench.test:$port/200/p$n"; fi
      done ;;
  esac
}
jobs_for() { [ "$1" = big ] && echo 200 || echo 256; }

# One run: wall s, user s, system s, peak KiB, pages had.
measure() { # tool case
  local urls="$work/$2.txt" jobs
  jobs=$(jobs_for "$2")
  if [ "$1" = vantorel ] || [ "$1" = vantorel-nt ]; then
    local targets=()
    [ "$1" = vantorel-nt ] && targets=(--no-target-check)
    inns env CURL_CA_BUNDLE="$work/cas.pem" timeout 300 /usr/bin/time -f "%e %U %S %M" -o "$work/time" \
      "$build/app/vantorel" --check example.com --urls "$urls" --jobs "$jobs" --format tsv --no-history \
      "${targets[@]}" >"$work/out" 2>/dev/null || true
    had=$(grep -c $'\t有效\t' "$work/out" || true)
  elif [ "$1" = linkinator ]; then
    # The pages' one link, to example.com, is skipped: the pages are what is timed.
    inns env NODE_EXTRA_CA_CERTS="$work/ca.pem" timeout 300 /usr/bin/time -f "%e %U %S %M" -o "$work/time" \
      "$linkinator" --concurrency "$jobs" --timeout 30000 --skip 'example[.]com' --format csv $(cat "$urls") \
      >"$work/out" 2>/dev/null || true
    had=$(grep -c ',200,' "$work/out" || true)
  else
    local store=(--cacert "$work/cas.pem" --capath /etc/ssl/certs)
    [ "$1" = curl-ca ] && store=(--cacert "$work/ca.pem")
    sed 's/.*/url = "&"\noutput = "\/dev\/null"/' "$urls" >"$work/curl.cfg"
    inns timeout 300 /usr/bin/time -f "%e %U %S %M" -o "$work/time" \
      curl --parallel --parallel-max "$jobs" -s "${store[@]}" --connect-timeout 10 \
      -w '%{http_code}\n' -K "$work/curl.cfg" >"$work/out" 2>/dev/null || true
    had=$(grep -c '^200$' "$work/out" || true)
  fi
  echo "$(tail -1 "$work/time") $had"
}

linkinator="${LINKINATOR:-$(command -v linkinator || true)}"
echo "delay each way: ${delay} ms by ${delayed_by}; medians of $runs runs"
printf '%-6s %-10s %9s %12s %10s %7s\n' case tool wall_s cpu_ms/page peak_MiB pages
for c in "${cases[@]}"; do
  list "$c" >"$work/$c.txt"
  pages=$(wc -l <"$work/$c.txt")
  tools=(vantorel vantorel-nt curl)
  [ "$c" = https ] && tools+=(curl-ca)
  [ -n "$linkinator" ] && tools+=(linkinator)
  for tool in "${tools[@]}"; do : >"$work/runs-$tool"; done
  for _ in $(seq "$runs"); do
    for tool in "${tools[@]}"; do measure "$tool" "$c" >>"$work/runs-$tool"; done
  done
  for tool in "${tools[@]}"; do
    python3 - "$work/runs-$tool" "$pages" "$c" "$tool" <<'EOF'
import statistics, sys
rows = [list(map(float, line.split())) for line in open(sys.argv[1]) if line.strip()]
pages = int(sys.argv[2])
median = lambda values: statistics.median(values)
print(f"{sys.argv[3]:<6} {sys.argv[4]:<10} {median([r[0] for r in rows]):9.2f} "
      f"{median([(r[1] + r[2]) * 1000 / pages for r in rows]):12.2f} "
      f"{median([r[3] / 1024 for r in rows]):10.1f} {median([r[4] for r in rows]):7.0f}")
EOF
  done
done
