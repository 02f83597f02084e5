#!/usr/bin/env bash
# The main job, the demo: build, start the development coordinator on a free loopback port
# with a small campaign, run the headless worker against it until the campaign is complete,
# and print the coordinator's summary of every unit.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target pelorin-worker pelorin-dev-coordinator

demo=$(mktemp -d)
coordinator_pid=
cleanup() {
  [ -n "$coordinator_pid" ] && kill "$coordinator_pid" 2>/dev/null && wait "$coordinator_pid" 2>/dev/null || true
  rm -rf "$demo"
}
trap cleanup EXIT

# Four units of 2^33 starts from 2^40: about ten seconds of work on two cores.
./build/linux/pelorin-dev-coordinator --port 0 --state-dir "$demo/coordinator" --difficulty-bits 14 \
  --begin 2^40 --end 1133871366144 --unit-size 2^33 >"$demo/coordinator.log" 2>&1 &
coordinator_pid=$!
for _ in $(seq 100); do
  grep -q '^Listening on' "$demo/coordinator.log" && break
  sleep 0.1
done
port=$(sed -n 's|^Listening on https://127.0.0.1:\([0-9]*\).*|\1|p' "$demo/coordinator.log")
ca=$(sed -n 's|^CA certificate: ||p' "$demo/coordinator.log")
[ -n "$port" ] || { cat "$demo/coordinator.log"; echo "the development coordinator did not start"; exit 1; }
echo "Development coordinator on 127.0.0.1:$port"

SSL_CERT_FILE="$ca" LOCALAPPDATA="$demo/worker" \
  ./build/linux/pelorin-worker run --coordinator "127.0.0.1:$port" --profile maximum

kill "$coordinator_pid" && wait "$coordinator_pid" 2>/dev/null || true
coordinator_pid=
echo
./build/linux/pelorin-dev-coordinator --state-dir "$demo/coordinator" --summary
