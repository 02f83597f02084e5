#!/usr/bin/env bash
# Every test: the release build and the sanitizer build, each through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
for preset in linux linux-asan; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
