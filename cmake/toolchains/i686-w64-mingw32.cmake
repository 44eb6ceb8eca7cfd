# Windows x86 (32-bit): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/i686-w64-mingw32.cmake
# Its programs run only under Wine's 32-bit half, which Debian packages apart
# (wine32:i386).
set(BMPCONTRAST_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
