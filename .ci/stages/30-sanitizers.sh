#!/usr/bin/env bash
# The whole suite under AddressSanitizer + UndefinedBehaviorSanitizer, with
# the benchmarks compiled too, so that they keep building.
set -euo pipefail
jobs=$(nproc)
# A missing interoperability peer fails the run instead of skipping.
export BMPCONTRAST_REQUIRE_PEERS=1
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBMPCONTRAST_WERROR=ON \
  -DBMPCONTRAST_BUILD_TESTS=ON -DBMPCONTRAST_BUILD_BENCH=ON -DBMPCONTRAST_SANITIZE=address,undefined \
  >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"
