#!/usr/bin/env bash
# The main job, the demo: build, make a certificate authority and a certificate for
# 127.0.0.1, add a campaign to the campaign server's SQLite database with `campaign add`, serve
# it on a free loopback port, run two headless workers side by side until the campaign is
# complete (every unit of these new workers is copied by the other before it counts), and
# print the server's status.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target pelorin-worker pelorin-coordinator

demo=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$demo"
}
trap cleanup EXIT
coordinator=./build/linux/pelorin-coordinator
state=$demo/coordinator
mkdir -p "$state"

# A local authority and a certificate for 127.0.0.1 signed by it; the workers trust the
# authority through SSL_CERT_FILE.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj "/CN=Demo authority" \
  -keyout "$demo/ca-key.pem" -out "$demo/ca.pem" 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=127.0.0.1" \
  -keyout "$state/server-key.pem" -out "$demo/server.csr" 2>/dev/null
openssl x509 -req -in "$demo/server.csr" -CA "$demo/ca.pem" -CAkey "$demo/ca-key.pem" -CAcreateserial -days 1 \
  -extfile <(printf 'subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n') -out "$state/server.pem" 2>/dev/null

# Four units of 2^32 starts from 2^40, each done twice (the copies of new workers): about
# ten seconds of work on two cores.
"$coordinator" --state-dir "$state" campaign add --name demo --begin 2^40 --end 1116691496960 --unit-size 2^32
# Both workers run on this machine and reach the server from 127.0.0.1: networks are not
# compared (--copy-networks off), and each reports a processor of its own below, so that each
# is independent of the other and may copy its units.
"$coordinator" --state-dir "$state" serve --listen 127.0.0.1:0 --tls-cert "$state/server.pem" \
  --tls-key "$state/server-key.pem" --difficulty-bits 14 --copy-networks off >"$demo/serve.out" 2>"$demo/journal.log" &
pids+=($!)
for _ in $(seq 100); do
  grep -q '^Listening on' "$demo/serve.out" && break
  sleep 0.1
done
port=$(sed -n 's|^Listening on https://127.0.0.1:\([0-9]*\)$|\1|p' "$demo/serve.out")
[ -n "$port" ] || { cat "$demo/serve.out" "$demo/journal.log"; echo "the campaign server did not start"; exit 1; }
echo "Campaign server on 127.0.0.1:$port (database $state/coordinator.db)"

# Two workers; a worker whose remaining units wait for the other's copies asks again within
# seconds instead of the half minute a volunteer's machine waits.
worker_pids=()
for n in 1 2; do
  SSL_CERT_FILE="$demo/ca.pem" PROCESSOR_IDENTIFIER="demo processor $n" ./build/linux/pelorin-worker run --data-dir "$demo/worker-$n" \
    --coordinator "127.0.0.1:$port" --profile maximum --retry-first-seconds 1 --retry-longest-seconds 5 2>&1 |
    sed -u "s/^/[worker $n] /" &
  worker_pids+=($!)
done
pids+=("${worker_pids[@]}")
for pid in "${worker_pids[@]}"; do wait "$pid"; done

kill "${pids[0]}" && wait "${pids[0]}" 2>/dev/null || true
echo
"$coordinator" --state-dir "$state" status
