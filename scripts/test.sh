#!/usr/bin/env bash
# Every test: the release build, the sanitizer build and the Windows cross build (its tests
# under Wine), each through CTest; then the fuzz smoke run, where every fuzz target replays its
# seed corpus and fuzzes for a few seconds (tests/fuzz/README.md).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
for preset in linux linux-asan windows; do
  start=$SECONDS
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
  echo "preset $preset: built and tested in $((SECONDS - start)) s"
done
if command -v clang++-14 >/dev/null; then
  start=$SECONDS
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
  ctest --preset fuzz
  echo "preset fuzz: built and fuzzed in $((SECONDS - start)) s"
else
  echo "preset fuzz: skipped (no clang++-14; scripts/setup.sh installs it)"
fi
