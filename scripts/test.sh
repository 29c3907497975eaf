#!/usr/bin/env bash
# Sets up the machine, builds both Linux presets (default, and AddressSanitizer with
# UndefinedBehaviorSanitizer) and runs every test of both; then builds the fuzz targets
# (the fuzz preset, clang) and runs each for 15 seconds over its seed corpus. Then the Windows
# build: the 32-bit program and its tests under the i386 chroot's Wine (its whole-program tests
# run by the default build's harness, so after it), and the same sources as a 64-bit program,
# its unit tests under the host's wine64. Prints how long the Windows part took.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
status=0
for preset in default asan fuzz; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
for preset in default asan fuzz; do
  echo "== tests: $preset"
  ctest --preset "$preset" -j "$jobs" --timeout 600 || status=1
done
began=$SECONDS
for preset in windows windows64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
built=$((SECONDS - began))
for preset in windows windows64; do
  echo "== tests: $preset"
  ctest --preset "$preset" -j "$jobs" --timeout 900 || status=1
done
echo "== the Windows part: $((SECONDS - began)) s (builds $built s, tests $((SECONDS - began - built)) s)"
exit $status
