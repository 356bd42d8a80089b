# Cross build of the 64-bit Windows DLL with mingw-w64 (Debian package
# g++-mingw-w64-x86-64). Test programs run under 64-bit Wine through CTest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The posix thread model, the runtime linked statically: see mingw-w64-i686.cmake.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's wine64 loader runs 64-bit programs (its /usr/bin/wine prefers the
# 32-bit one), quiet, in a 64-bit prefix of the build's own.
find_program(QUORVEL_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(QUORVEL_WINE64 NAMES wine64)
if(QUORVEL_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /usr/bin/env WINEDEBUG=-all WINEARCH=win64 WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
      ${QUORVEL_WINE64} CACHE STRING "Runs the test programs under Wine (scripts/test-all reads it)")
endif()
