#!/usr/bin/env bash
# The campaign server under load: pelorin-loadgen's simulated workers against
# pelorin-coordinator on loopback, a new TLS connection per request as the worker opens one,
# heartbeats every 20 s as the worker sends them. Three set-ups, one after the other:
# SQLite with one instance, PostgreSQL with one instance, PostgreSQL with two instances
# (the load tool spreads requests over them as a load balancer would). PostgreSQL runs with
# its durable defaults (fsync, synchronous commits) in a throwaway cluster.
#
#   bash bench/server_load.sh [WORKERS] [SECONDS] [IN-FLIGHT] [SET-UP...]
#
# WORKERS (10000) simulated workers start over the first third of SECONDS (180); the figures
# leave out that ramp and a little more, so they describe the load once every worker runs. The servers use
# their production defaults except where a single test machine differs from the Internet:
# one address for every worker (no per-address registration limit) and a cheap registration
# puzzle (the load tool solves ten thousand of them on one thread). Everything stays on
# loopback and ends by itself. IN-FLIGHT (64) caps the connections the load tool keeps open at
# once: it shares the machine's cores with the servers, and thousands of handshakes in flight
# on its one thread would make it, not the server, the bottleneck. SET-UP names any of
# sqlite-1, postgresql-1, postgresql-2 (all three when none is named).
set -euo pipefail
cd "$(dirname "$0")/.."
workers=${1:-10000}
seconds=${2:-180}
in_flight=${3:-64}
setups=("${@:4}")
[ ${#setups[@]} -gt 0 ] || setups=(sqlite-1 postgresql-1 postgresql-2)
build=build/linux
for p in pelorin-coordinator pelorin-loadgen tests/support/pelorin-test-postgres; do
  [ -x "$build/$p" ] || { echo "build the linux preset first: $build/$p is missing"; exit 1; }
done
ramp=$((seconds / 3))
warmup=$((ramp + seconds / 9))
# Units of 2^12 starts, plenty for every worker to finish several.
unit=4096
units=$((workers * 4))

work=$(mktemp -d /tmp/pelorin-load-XXXXXX)
pids=()
cluster=""
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ -z "$cluster" ] || "$build/tests/support/pelorin-test-postgres" stop "$cluster" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj "/CN=Load authority" \
  -keyout "$work/ca-key.pem" -out "$work/ca.pem" 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=127.0.0.1" \
  -keyout "$work/server-key.pem" -out "$work/server.csr" 2>/dev/null
openssl x509 -req -in "$work/server.csr" -CA "$work/ca.pem" -CAkey "$work/ca-key.pem" -CAcreateserial -days 1 \
  -extfile <(printf 'subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n') -out "$work/server.pem" 2>/dev/null

# CPU time (clock ticks) of processes so far: the instances, and PostgreSQL's server with its
# backends (those that ended count in the server's children's time).
ticks() {
  local pid total=0 t
  for pid in "$@"; do
    t=$(awk '{print $14 + $15 + $16 + $17}' "/proc/$pid/stat" 2>/dev/null || echo 0)
    total=$((total + t))
  done
  echo "$total"
}
server_pids() {
  local p
  echo "${pids[@]}"
  if [ -n "$cluster" ]; then
    p=$(head -1 "$cluster/data/postmaster.pid")
    echo "$p" $(pgrep -P "$p")
  fi
}
hz=$(getconf CLK_TCK)

serve_flags=(--tls-cert "$work/server.pem" --tls-key "$work/server-key.pem" --difficulty-bits 8 --register-rate 0)

# run_setup NAME INSTANCES DATABASE-URL
run_setup() {
  local name=$1 instances=$2 database=$3 i servers=() port
  local dir=$work/$name
  mkdir -p "$dir"
  ./$build/pelorin-coordinator --database "$database" campaign add --name load --begin 2^40 \
    --end $((2 ** 40 + units * unit)) --unit-size $unit >/dev/null
  pids=()
  for i in $(seq "$instances"); do
    ./$build/pelorin-coordinator --database "$database" serve --listen 127.0.0.1:0 "${serve_flags[@]}" \
      >"$dir/serve-$i.out" 2>/dev/null &
    pids+=($!)
    for _ in $(seq 100); do
      grep -q '^Listening on' "$dir/serve-$i.out" && break
      sleep 0.1
    done
    port=$(sed -n 's|^Listening on https://127.0.0.1:\([0-9]*\)$|\1|p' "$dir/serve-$i.out")
    [ -n "$port" ] || { echo "$name: instance $i did not start"; exit 1; }
    servers+=(--server "127.0.0.1:$port")
  done
  echo "== $name: $workers workers, $instances instance(s), ramp ${ramp} s, measured from ${warmup} s to ${seconds} s"
  # The servers' CPU time over the measured part of the run, beside the requests it served.
  (sleep "$warmup"; ticks $(server_pids) >"$dir/ticks-from") &
  # Each simulated worker on a loopback network of its own, so their copies of each other count.
  ./$build/pelorin-loadgen "${servers[@]}" --ca-file "$work/ca.pem" --workers "$workers" --heartbeat 20 \
    --work 120 --ramp "$ramp" --warmup "$warmup" --duration "$seconds" --max-in-flight "$in_flight" --seed 17 \
    --loopback-networks | tee "$dir/load.out"
  local used=$(($(ticks $(server_pids)) - $(cat "$dir/ticks-from")))
  local requests
  requests=$(sed -n 's/^\([0-9]*\) requests in .*/\1/p' "$dir/load.out")
  echo "servers' CPU over the measured time: $(echo "scale=1; $used / $hz" | bc) s for $requests requests," \
    "$(echo "scale=2; 1000 * $used / $hz / $requests" | bc) ms per request (load average $(cut -d' ' -f1 /proc/loadavg))"
  for i in "${!pids[@]}"; do kill "${pids[$i]}"; wait "${pids[$i]}" 2>/dev/null || true; done
  pids=()
  echo
}

for setup in "${setups[@]}"; do
  case $setup in
    sqlite-1) run_setup sqlite-1 1 "sqlite:$work/sqlite-1.db" ;;
    postgresql-1 | postgresql-2)
      # A fresh cluster for each; its folder goes to the postgres user when this runs as
      # root, so it sits in /tmp itself, where that user can reach it.
      cluster=$(mktemp -u /tmp/pelorin-load-pg-XXXXXX)
      url=$("$build/tests/support/pelorin-test-postgres" start "$cluster" --durable)
      run_setup "$setup" "${setup#postgresql-}" "$url"
      "$build/tests/support/pelorin-test-postgres" stop "$cluster" >/dev/null
      cluster="" ;;
    *) echo "unknown set-up $setup: sqlite-1, postgresql-1 or postgresql-2"; exit 2 ;;
  esac
done
