#!/usr/bin/env bash
# The README's test command (C++, C and Python tests), with warnings as
# errors and the benchmarks compiled too, so that they keep building.
set -euo pipefail
# A missing interoperability peer fails the run instead of skipping.
export BMPCONTRAST_REQUIRE_PEERS=1
cmake -S . -B build -DBMPCONTRAST_WERROR=ON -DBMPCONTRAST_BUILD_BENCH=ON >/dev/null
# The README's test command:
cmake -S . -B build -DBMPCONTRAST_BUILD_TESTS=ON && cmake --build build -j2 && ctest --test-dir build --output-on-failure -j2
