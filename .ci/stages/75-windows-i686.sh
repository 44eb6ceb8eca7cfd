#!/usr/bin/env bash
# 32-bit Windows (mingw-w64, i686): the DLL and the tool built with warnings
# as errors, and the DLL's exports, imports and version resource checked.
# Nothing runs: Debian's Wine runs 32-bit programs only with its i386 half.
set -euo pipefail
cmake -S . -B build-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/i686-w64-mingw32.cmake \
  -DCMAKE_BUILD_TYPE=Release -DBMPCONTRAST_WERROR=ON -DBMPCONTRAST_BUILD_TESTS=OFF \
  -DBMPCONTRAST_BUILD_BENCH=OFF >/dev/null
cmake --build build-i686 -j"$(nproc)" >/dev/null
cmake -DOBJDUMP=i686-w64-mingw32-objdump -DLIBRARY=build-i686/bin/bmpcontrast.dll \
  -P tests/windows/dll_check.cmake
echo "-- i686 DLL: exports BMPContrast alone, imports KERNEL32 and msvcrt, has its version"
