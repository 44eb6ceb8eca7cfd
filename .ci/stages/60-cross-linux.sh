#!/usr/bin/env bash
# The whole suite cross-built for AArch64, 32-bit ARM and big-endian s390x,
# run under qemu-user. Release builds, warnings as errors.
set -euo pipefail
jobs=$(nproc)
targets=${BMPCONTRAST_CROSS_TARGETS:-"aarch64-linux-gnu arm-linux-gnueabihf s390x-linux-gnu"}
for triple in $targets; do
  echo "-- $triple"
  start=$SECONDS
  cmake -S . -B "build-$triple" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/$triple.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DBMPCONTRAST_WERROR=ON -DBMPCONTRAST_BUILD_TESTS=ON >/dev/null
  cmake --build "build-$triple" -j"$jobs" >/dev/null
  ctest --test-dir "build-$triple" --output-on-failure -j"$jobs" | tail -n 15
  echo "-- $triple: $((SECONDS - start)) s"
done
