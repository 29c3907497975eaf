#!/usr/bin/env bash
# Sets up the machine, builds both presets (default, and AddressSanitizer with
# UndefinedBehaviorSanitizer) and runs every test of both; then builds the fuzz targets
# (the fuzz preset, clang) and runs each for 15 seconds over its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
for preset in default asan fuzz; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
status=0
for preset in default asan fuzz; do
  echo "== tests: $preset"
  ctest --preset "$preset" -j "$jobs" --timeout 600 || status=1
done
exit $status
