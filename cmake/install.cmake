# What `cmake --install` lays out, and CPack packs: the library, its header
# and the command-line host; the CMake package (and natively the pkg-config
# file) by which consumers find them; the README and the notices.
include(CMakePackageConfigHelpers)

set(QUORVEL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Quorvel)
set(QUORVEL_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/quorvel)

# Windows: bin/Quorvel.dll and lib/Quorvel.lib (the import library made from
# the decorated names). Natively: lib/libquorvel.so.1.0.0 and its SONAME and
# development links.
install(TARGETS quorvel EXPORT QuorvelTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS quorvel_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES include/quorvel.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(WIN32)
  install(FILES src/boundary/quorvel_import.def DESTINATION ${CMAKE_INSTALL_LIBDIR}
          RENAME Quorvel.def)
endif()

# find_package(Quorvel) gives Quorvel::quorvel. The version file also turns
# away a consumer whose pointer size differs (a 64-bit build and the 32-bit DLL).
install(EXPORT QuorvelTargets NAMESPACE Quorvel:: DESTINATION ${QUORVEL_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/QuorvelConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES cmake/QuorvelConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/QuorvelConfigVersion.cmake
        DESTINATION ${QUORVEL_CMAKE_DIR})

if(NOT WIN32)
  # The prefix is found from the file's own place, so the tree works wherever
  # it is unpacked.
  file(RELATIVE_PATH QUORVEL_PC_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  string(REGEX REPLACE "/$" "" QUORVEL_PC_PREFIX "${QUORVEL_PC_PREFIX}")
  configure_file(cmake/quorvel.pc.in ${CMAKE_CURRENT_BINARY_DIR}/quorvel.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quorvel.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  # The command-line host's manual page.
  install(FILES tools/quorvel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

install(FILES README.md NOTICE DESTINATION ${QUORVEL_DOC_DIR})

# Packages (scripts/package): the Windows tree as Quorvel-<version>-win32.zip;
# natively a .tar.gz of the tree and a .deb that installs it under /usr.
set(CPACK_PACKAGE_VENDOR "Quorvel developers")
set(CPACK_PACKAGE_CHECKSUM SHA256)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_DEBIAN_PACKAGE_NAME quorvel)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quorvel developers")
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  # Depends from the binaries' own needs; shlibs and the ldconfig trigger for
  # libquorvel.so.1.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
endif()
include(CPack)
