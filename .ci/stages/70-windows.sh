#!/usr/bin/env bash
# The Windows DLL (mingw-w64, x86-64) and the library's test suites under
# Wine, in a fresh prefix with no display. Tests whose subject Windows lacks
# (fork and rlimits, a full device, the shell-driven peers) skip with their
# reason. The tool and its tests are built as BMPCONTRAST_BUILD_TOOLS says.
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
  -DCMAKE_BUILD_TYPE=Release -DBMPCONTRAST_WERROR=ON -DBMPCONTRAST_BUILD_TOOLS=OFF \
  -DBMPCONTRAST_BUILD_BENCH=OFF >/dev/null
cmake --build build-mingw -j"$jobs" >/dev/null
ctest --test-dir build-mingw --output-on-failure -j"$jobs"
