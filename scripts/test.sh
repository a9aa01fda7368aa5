#!/usr/bin/env bash
# Installs the packages, builds and runs every test: the whole suite in an
# optimised build and under AddressSanitizer+UndefinedBehaviorSanitizer, and
# the concurrency tests under ThreadSanitizer; a short run of every fuzz
# target; last, the Windows build with its tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --for-tests
jobs=$(nproc)

echo "== build and test (RelWithDebInfo)"
cmake --preset default -DMORVANE_TESTS=ON
cmake --build --preset default -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== build and test under AddressSanitizer + UndefinedBehaviorSanitizer"
cmake --preset asan -DMORVANE_TESTS=ON
cmake --build --preset asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== concurrency tests under ThreadSanitizer"
cmake --preset tsan -DMORVANE_TESTS=ON
cmake --build --preset tsan -j "$jobs"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" -R 'Concurrency|Stop|Reload'

echo "== fuzz targets, about 30 s each"
fuzz/run.sh 30

echo "== Windows: cross build, every test under Wine"
scripts/test-windows.sh
