# Cross build of the 32-bit Windows DLL with mingw-w64 (Debian package
# g++-mingw-w64-i686). Test programs run under Wine through CTest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

# The posix thread model (std::mutex for GoogleTest); the runtime, winpthread
# included, is linked statically (see CMakeLists.txt), so the DLL imports
# nothing but the system's own DLLs.
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wine runs the tests: quiet, and in a 32-bit prefix of the build's own so
# that no state is shared with anything else on the machine.
find_program(QUORVEL_WINE NAMES wine wine32 wine-stable)
if(QUORVEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /usr/bin/env WINEDEBUG=-all WINEARCH=win32 WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
      ${QUORVEL_WINE} CACHE STRING "Runs the test programs under Wine (scripts/test-all reads it)")
endif()
