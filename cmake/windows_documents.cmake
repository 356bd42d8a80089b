# What the Windows zips hold beside the binaries, at the top of the tree, so
# that a Windows developer needs nothing else: README.txt (linking and loading
# from Visual Studio, mingw-w64 and CMake), the manual as HTML, the license,
# the notices, the changes and the samples with a host to build.
find_program(QUORVEL_MANDOC mandoc REQUIRED)
set(QUORVEL_MANUAL_HTML ${CMAKE_CURRENT_BINARY_DIR}/quorvel.html)
add_custom_command(OUTPUT ${QUORVEL_MANUAL_HTML}
                   COMMAND ${QUORVEL_MANDOC} -Thtml ${QUORVEL_MANUAL} > ${QUORVEL_MANUAL_HTML}
                   DEPENDS ${QUORVEL_MANUAL} VERBATIM)
add_custom_target(quorvel_manual ALL DEPENDS ${QUORVEL_MANUAL_HTML})

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(QUORVEL_WINDOWS_BITS 64)
  set(QUORVEL_WINDOWS_PLATFORM x64)
  set(QUORVEL_WINDOWS_CMAKE_ARCH x64)
  set(QUORVEL_WINDOWS_GCC x86_64-w64-mingw32-gcc)
  set(QUORVEL_WINDOWS_DLLTOOL x86_64-w64-mingw32-dlltool)
  set(QUORVEL_WINDOWS_CALL "x64 has one calling convention, which every compiler uses.")
  set(QUORVEL_WINDOWS_FFI "A 64-bit Python loads the DLL with ctypes.CDLL.")
else()
  set(QUORVEL_WINDOWS_BITS 32)
  set(QUORVEL_WINDOWS_PLATFORM "x86 (Win32)")
  set(QUORVEL_WINDOWS_CMAKE_ARCH Win32)
  set(QUORVEL_WINDOWS_GCC i686-w64-mingw32-gcc)
  # -k: the names imported are the bare ones the DLL exports.
  set(QUORVEL_WINDOWS_DLLTOOL "i686-w64-mingw32-dlltool -k")
  set(QUORVEL_WINDOWS_CALL "They are __stdcall, as quorvel.h declares them;
Quorvel.lib maps the decorated names a compiler refers to (_Quorvel_TXT2XML@20)
to the bare exports.")
  set(QUORVEL_WINDOWS_FFI "They are stdcall: a 32-bit Python loads the DLL with ctypes.WinDLL.")
endif()
set(QUORVEL_WINDOWS_NAME ${QUORVEL_WINDOWS_BITS}-bit)
configure_file(packaging/windows/README.txt.in ${CMAKE_CURRENT_BINARY_DIR}/README.txt @ONLY
               NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${QUORVEL_MANUAL_HTML} LICENSE NOTICE
              CHANGELOG.md
        DESTINATION . COMPONENT documents)
install(FILES samples/invoices.txt samples/invoices-utf8.txt samples/returned.xml
              tests/sdk/host/host.c tests/sdk/host/CMakeLists.txt
        DESTINATION samples COMPONENT documents)
