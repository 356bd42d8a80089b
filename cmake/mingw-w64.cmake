# What the mingw-w64 toolchain files share. Each sets CMAKE_SYSTEM_PROCESSOR,
# QUORVEL_MINGW (the target, e.g. i686-w64-mingw32) and QUORVEL_WINE (the
# Wine loader for its programs, found or not) with QUORVEL_WINE_ARCH, then
# includes this file.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model (std::mutex for GoogleTest); the runtime, winpthread
# included, is linked statically (see CMakeLists.txt), so the DLL imports
# nothing but the system's own DLLs.
set(CMAKE_C_COMPILER ${QUORVEL_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVEL_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORVEL_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUORVEL_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wine runs the tests: quiet, and in a prefix of the build's own so that no
# state is shared with anything else on the machine.
if(QUORVEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /usr/bin/env WINEDEBUG=-all WINEARCH=${QUORVEL_WINE_ARCH} WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
      ${QUORVEL_WINE} CACHE STRING "Runs the test programs under Wine (scripts/test-all reads it)")
endif()
