#!/usr/bin/env bash
# Every test: the release build, the sanitizer build and the Windows cross build (its tests
# under Wine), each through CTest; then the fuzz smoke run, where every fuzz target replays its
# seed corpus and fuzzes for a few seconds (tests/fuzz/README.md). Builds go through the
# compiler cache (cmake/compiler_cache.cmake); each preset's line says how long its build and
# its tests took and how many of its compilations the cache answered.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cache_hits() {
  command -v ccache >/dev/null || return 0
  ccache --print-stats 2>/dev/null | awk -F'\t' '
    $1 == "direct_cache_hit" || $1 == "preprocessed_cache_hit" { hits += $2 }
    $1 == "cache_miss" { misses += $2 }
    END { if (hits + misses) printf ", compiler cache %d of %d", hits, hits + misses }'
}
run_preset() {
  local preset=$1 what=$2 start built
  start=$SECONDS
  command -v ccache >/dev/null && ccache --zero-stats >/dev/null
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  built=$SECONDS
  local hits
  hits=$(cache_hits)
  ctest --preset "$preset"
  echo "preset $preset: built in $((built - start)) s${hits}, $what in $((SECONDS - built)) s"
}
for preset in linux linux-asan windows; do
  run_preset "$preset" tested
done
if command -v clang++-14 >/dev/null; then
  run_preset fuzz fuzzed
else
  echo "preset fuzz: skipped (no clang++-14; scripts/setup.sh installs it)"
fi
