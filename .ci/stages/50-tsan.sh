#!/usr/bin/env bash
# Concurrent calls under ThreadSanitizer.
set -euo pipefail
jobs=$(nproc)
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBMPCONTRAST_WERROR=ON \
  -DBMPCONTRAST_BUILD_TESTS=ON -DBMPCONTRAST_SANITIZE=thread -DBMPCONTRAST_BUILD_TOOLS=OFF >/dev/null
cmake --build build-tsan -j"$jobs" --target bmpcontrast_load_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  build-tsan/tests/bmpcontrast_load_tests --gtest_filter='Concurrency.*'
