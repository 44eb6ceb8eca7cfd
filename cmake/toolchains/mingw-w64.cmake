# Shared part of the Windows toolchains: Debian's mingw-w64 compilers with
# POSIX threads (for std::thread in the tests), the target's libraries under
# /usr/<triple>, programs run through Wine. The including file sets
# BMPCONTRAST_TRIPLE and CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${BMPCONTRAST_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BMPCONTRAST_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${BMPCONTRAST_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${BMPCONTRAST_TRIPLE})
# Programs carry the GCC runtimes (libgcc, libstdc++, winpthread) inside,
# so that they need no DLL beside them but the library's.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
find_program(BMPCONTRAST_WINE_PATH NAMES wine wine64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${BMPCONTRAST_WINE_PATH})
