#!/usr/bin/env bash
# Concurrent calls, and the tool's batches on its pool of threads, under
# ThreadSanitizer.
set -euo pipefail
jobs=$(nproc)
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBMPCONTRAST_WERROR=ON \
  -DBMPCONTRAST_BUILD_TESTS=ON -DBMPCONTRAST_SANITIZE=thread >/dev/null
cmake --build build-tsan -j"$jobs" --target bmpcontrast_load_tests bmpcontrast_tool_tests bmpcontrast_files_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  build-tsan/tests/bmpcontrast_load_tests --gtest_filter='Concurrency.*'
# A report ends the tool with status 66, which fails the test that ran it.
# One file on several threads, by stretches.
TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/bmpcontrast_files_tests --gtest_filter='Ranges.*'
TSAN_OPTIONS=halt_on_error=1:exitcode=66 build-tsan/tests/bmpcontrast_tool_tests \
  --gtest_filter='Tool.Parallel*:Tool.Batch*:Tool.TheSameFile*:Tool.Interrupt*:Tool.Progress*:Tool.Recursive*:Tool.FailedWrite*:Tool.StdinAndStdout*'
