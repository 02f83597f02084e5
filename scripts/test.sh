#!/usr/bin/env bash
# Every test: the release build, the sanitizer build and the Windows cross build (its tests
# under Wine), each through CTest.
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
