#!/usr/bin/env bash
# A longer campaign: every fuzz target in turn (one process at a time, niced like a build, so
# that the machine stays usable), each for RUNS inputs (default 10^7) after its seeds.
#   tests/fuzz/campaign.sh [RUNS] [NAME...]
# Needs the fuzz preset built. Writes build/fuzz/campaign/NAME.log per target and one line per
# target to build/fuzz/campaign/summary.txt: runs, runs per second, coverage (edges, features),
# corpus size, and "ok" or the finding's file under build/fuzz/tests/fuzz/NAME.findings/.
set -uo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-10000000}
# Inputs up to 1 KiB (256 bytes for the integer forms): every member and form fits, and long
# texts cost time better spent on variety (the table tests cover megabyte texts).
max_len_of() {
  case $1 in
    integer_text) echo "${PELORIN_FUZZ_MAX_LEN:-256}" ;;
    *) echo "${PELORIN_FUZZ_MAX_LEN:-1024}" ;;
  esac
}
shift || true
names=("$@")
if ((${#names[@]} == 0)); then
  for f in build/fuzz/tests/fuzz/*_fuzz; do names+=("$(basename "${f%_fuzz}")"); done
fi
out=build/fuzz/campaign
mkdir -p "$out"
for name in "${names[@]}"; do
  log=$out/$name.log
  start=$SECONDS
  nice bash tests/fuzz/run.sh "build/fuzz/tests/fuzz/${name}_fuzz" -max_len="$(max_len_of "$name")" -runs="$runs" \
    >"$log" 2>&1
  status=$?
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1)
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  per_second=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(sed -n 's/.* cov: \([0-9]*\) ft: \([0-9]*\) corp: \([^ ]*\) .*/edges \1, features \2, corpus \3/p' <<<"$done_line")
  result=ok
  if ((status != 0)); then
    result="finding: $(grep -o 'Test unit written to .*' "$log" | sed 's/Test unit written to //' | tail -1)"
  fi
  echo "$name: runs ${executed:-?}, ${per_second:-?}/s, ${cov:-no coverage line}, $((SECONDS - start)) s, $result" |
    tee -a "$out/summary.txt"
done
