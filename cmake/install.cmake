# What `cmake --install` lays out, and CPack packs, in components:
#   runtime      the library (Quorvel.dll; libquorvel.so.1)
#   development  quorvel.h, the import library and .def or the .so link, the
#                CMake package, the pkg-config file
#   tool         the command-line host and (natively) its manual page
#   documents    LICENSE, NOTICE, CHANGELOG.md and the README; on Windows also
#                the manual as HTML, the samples and a README for Windows
# and, for the Debian packages alone, each package's copyright file, changelog
# and notices (cmake/debian.cmake).
include(CMakePackageConfigHelpers)

set(QUORVEL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Quorvel)
set(QUORVEL_MANUAL ${PROJECT_SOURCE_DIR}/tools/quorvel.1)

# Windows: bin/Quorvel.dll and lib/Quorvel.lib (the import library hosts
# link). Natively: lib/libquorvel.so.1.1.0, its SONAME link and (for
# development) the libquorvel.so link.
install(TARGETS quorvel EXPORT QuorvelTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
                NAMELINK_COMPONENT development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(TARGETS quorvel_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
install(FILES include/quorvel.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
if(WIN32)
  install(FILES ${QUORVEL_IMPORT_DEF} DESTINATION ${CMAKE_INSTALL_LIBDIR} RENAME Quorvel.def
          COMPONENT development)
endif()

# find_package(Quorvel) gives Quorvel::quorvel. The version file also turns
# away a consumer whose pointer size differs (a 64-bit build and the 32-bit DLL).
install(EXPORT QuorvelTargets NAMESPACE Quorvel:: DESTINATION ${QUORVEL_CMAKE_DIR}
        COMPONENT development)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/QuorvelConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES cmake/QuorvelConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/QuorvelConfigVersion.cmake
        DESTINATION ${QUORVEL_CMAKE_DIR} COMPONENT development)

if(WIN32)
  include(cmake/windows_documents.cmake)
else()
  # The prefix is found from the file's own place, so the tree works wherever
  # it is unpacked.
  file(RELATIVE_PATH QUORVEL_PC_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  string(REGEX REPLACE "/$" "" QUORVEL_PC_PREFIX "${QUORVEL_PC_PREFIX}")
  configure_file(cmake/quorvel.pc.in ${CMAKE_CURRENT_BINARY_DIR}/quorvel.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quorvel.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
  # The manual page, compressed as Debian's policy asks (man reads it so
  # everywhere); -n leaves out the name and time, so builds agree byte for byte.
  set(QUORVEL_MANUAL_GZ ${CMAKE_CURRENT_BINARY_DIR}/quorvel.1.gz)
  add_custom_command(OUTPUT ${QUORVEL_MANUAL_GZ}
                     COMMAND gzip -9nc < ${QUORVEL_MANUAL} > ${QUORVEL_MANUAL_GZ}
                     DEPENDS ${QUORVEL_MANUAL} VERBATIM)
  add_custom_target(quorvel_manual ALL DEPENDS ${QUORVEL_MANUAL_GZ})
  install(FILES ${QUORVEL_MANUAL_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
  install(FILES README.md LICENSE NOTICE CHANGELOG.md
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quorvel COMPONENT documents)
endif()

# Packages (scripts/package): the Windows tree as Quorvel-<version>-win32.zip
# or -win64.zip; natively a .tar.gz of the tree, and the Debian packages.
set(CPACK_PACKAGE_VENDOR "the Quorvel developers")
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)
# Each archive is the whole tree in one folder; the Debian packages are split
# (cmake/cpack_generator.cmake chooses the components for each generator).
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack_generator.cmake)
set(CPACK_QUORVEL_ARCHIVE_COMPONENTS runtime development tool documents)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
else()
  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
  include(cmake/debian.cmake)
endif()
include(CPack)
