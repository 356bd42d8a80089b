# Cross build of the 64-bit Windows DLL with mingw-w64 (Debian package
# g++-mingw-w64-x86-64). Test programs run under 64-bit Wine through CTest,
# in a 64-bit prefix: Debian's wine64 loader runs them (its /usr/bin/wine
# prefers the 32-bit one).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUORVEL_MINGW x86_64-w64-mingw32)
find_program(QUORVEL_WINE NAMES wine64 PATHS /usr/lib/wine)
set(QUORVEL_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
