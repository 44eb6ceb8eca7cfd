#!/usr/bin/env bash
# libFuzzer: replay the seeds and regressions, then search for 2 minutes.
set -euo pipefail
jobs=$(nproc)
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBMPCONTRAST_FUZZ=ON -DBMPCONTRAST_SANITIZE=address,undefined -DBMPCONTRAST_WERROR=ON \
  -DBMPCONTRAST_BUILD_TESTS=OFF -DBMPCONTRAST_BUILD_TOOLS=OFF >/dev/null
cmake --build build-fuzz -j"$jobs" --target bmpcontrast_fuzz bmpcontrast_fuzz_replay bmpcontrast_make_corpus
rm -rf build-fuzz/seeds build-fuzz/corpus build-fuzz/findings build-fuzz/tmp
mkdir -p build-fuzz/corpus build-fuzz/findings build-fuzz/tmp
build-fuzz/fuzz/bmpcontrast_make_corpus build-fuzz/seeds
# The target's files, like everything else this stage writes, stay in the
# build folder.
fuzz_tmp=$PWD/build-fuzz/tmp
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
TMPDIR=$fuzz_tmp build-fuzz/fuzz/bmpcontrast_fuzz_replay build-fuzz/seeds fuzz/regressions
# Any crash, leak, sanitizer report, broken invariant, timeout or excess
# memory is a finding: saved under build-fuzz/findings/, and CI fails. A
# finding belongs in fuzz/regressions/ once fixed.
if ! TMPDIR=$fuzz_tmp build-fuzz/fuzz/bmpcontrast_fuzz build-fuzz/corpus build-fuzz/seeds \
  -dict=fuzz/bmp.dict -max_total_time=120 -rss_limit_mb=2048 -timeout=30 \
  -artifact_prefix=build-fuzz/findings/ -print_final_stats=1 >build-fuzz/fuzz.log 2>&1; then
  cat build-fuzz/fuzz.log
  echo "fuzzing found a problem; inputs in build-fuzz/findings/:" && ls -l build-fuzz/findings/
  exit 1
fi
grep -E '^(#[0-9]+[[:space:]]+DONE|stat::)' build-fuzz/fuzz.log
# Slow inputs starve the search; under 1,000 a second it finds little in its
# two minutes. A warning, not a failure: the machine may be loaded.
rate=$(sed -n 's/^stat::average_exec_per_sec:[[:space:]]*//p' build-fuzz/fuzz.log | tail -1)
if [ -n "$rate" ] && [ "$rate" -lt 1000 ]; then
  echo "warning: fuzzing ran $rate executions a second (load: $(cat /proc/loadavg))"
fi
