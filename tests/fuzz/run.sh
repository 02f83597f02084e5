#!/usr/bin/env bash
# Runs one fuzz target: its seed corpus first, then new inputs, until a libFuzzer limit given
# in the options (-runs=N, -max_total_time=S) or a finding.
#   tests/fuzz/run.sh build/fuzz/tests/fuzz/NAME_fuzz [libFuzzer options...]
# Seeds: tests/fuzz/NAME/corpus; dictionary: tests/fuzz/NAME.dict when there is one. New
# inputs go beside the program in NAME.corpus/, a finding to NAME.findings/ (crash-*,
# timeout-*, oom-*). A crash, a sanitizer report, a broken property, an input slower than
# 10 s or a run above 2 GiB ends it with a non-zero status.
set -euo pipefail
fuzzer=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
name=$(basename "$fuzzer")
name=${name%_fuzz}
out=$(dirname "$fuzzer")
[ -d "$here/$name/corpus" ] || { echo "no seed corpus $here/$name/corpus" >&2; exit 2; }
mkdir -p "$out/$name.corpus" "$out/$name.findings"
options=(-artifact_prefix="$out/$name.findings/" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1)
[ -f "$here/$name.dict" ] && options+=(-dict="$here/$name.dict")
exec "$fuzzer" "${options[@]}" "$@" "$out/$name.corpus" "$here/$name/corpus"
