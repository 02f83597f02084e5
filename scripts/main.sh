#!/usr/bin/env bash
# The main job: verify the tuning range (2^26 starts from 2^32) with "record-recursive" on
# every hardware thread, and print the record and the rate.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target pelorin-worker
record=$(./build/linux/pelorin-worker verify --backend record-recursive --begin 4294967296 --end 4362076160)
echo "$record"
seconds=$(sed -E 's/.*"elapsed_seconds":([0-9.e+-]+).*/\1/' <<<"$record")
awk -v s="$seconds" 'BEGIN { printf "rate: %.3g starts per second (67108864 starts in %s s)\n", 67108864 / s, s }'
