#!/usr/bin/env bash
# The Windows build (mingw-w64, x86-64): the DLL, the tool and their test
# suites under Wine, in a fresh prefix with no display. Tests whose subject
# Windows lacks (fork and rlimits, a full device, the shell-driven peers)
# skip with their reason.
set -euo pipefail
jobs=$(nproc)
export WINEPREFIX="$PWD/build-mingw/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX" && mkdir -p "$WINEPREFIX"
# One server for the whole stage. By default it exits with its last client,
# and a test process starting just then fails ("recvmsg: Connection reset
# by peer").
wineserver -p
trap 'wineserver -k || true' EXIT
start=$SECONDS
wineboot -i >/dev/null 2>&1 || echo "-- wineboot exited with $?; the tests show whether the prefix works"
echo "-- wine prefix: $((SECONDS - start)) s"
cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/x86_64-w64-mingw32.cmake \
  -DCMAKE_BUILD_TYPE=Release -DBMPCONTRAST_WERROR=ON -DBMPCONTRAST_BUILD_TESTS=ON >/dev/null
cmake --build build-mingw -j"$jobs" >/dev/null
ctest --test-dir build-mingw --output-on-failure -j"$jobs"
# Ctrl-C travels through a console, which Wine gives a program only on a
# terminal: the interrupt tests once more, on one that script(1) provides.
# Each must pass there, not skip.
log=build-mingw/ctrl-c.log
script -qec "wine build-mingw/bin/bmpcontrast_windows_tool_tests.exe --gtest_filter='*CtrlC*' >$log 2>&1" \
  /dev/null </dev/null >/dev/null || true
ran=$(grep -c '^\[ RUN      \] WindowsTool.CtrlC' "$log" || true)
passed=$(grep -c '^\[       OK \] WindowsTool.CtrlC' "$log" || true)
if [ "$ran" -ge 2 ] && [ "$passed" = "$ran" ] && ! grep -q 'Skipped\|SKIPPED' "$log"; then
  echo "-- Ctrl-C tests on a terminal: $passed passed"
else
  cat "$log"
  echo "-- Ctrl-C tests on a terminal: $passed of $ran passed"
  exit 1
fi
