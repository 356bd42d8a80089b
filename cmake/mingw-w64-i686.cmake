# Cross build of the 32-bit Windows DLL with mingw-w64 (Debian package
# g++-mingw-w64-i686). Test programs run under Wine through CTest, in a
# 32-bit prefix.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUORVEL_MINGW i686-w64-mingw32)
find_program(QUORVEL_WINE NAMES wine wine32 wine-stable)
set(QUORVEL_WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
