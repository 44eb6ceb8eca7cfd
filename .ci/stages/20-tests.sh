#!/usr/bin/env bash
# The README's test command, with warnings as errors.
set -euo pipefail
# A missing interoperability peer fails the run instead of skipping.
export BMPCONTRAST_REQUIRE_PEERS=1
cmake -S . -B build -DBMPCONTRAST_WERROR=ON >/dev/null
# The README's test command:
cmake -S . -B build -DBMPCONTRAST_BUILD_TESTS=ON && cmake --build build -j2 && ctest --test-dir build --output-on-failure -j2
