# The Debian packages, split as Debian splits a library:
#   libquorvel1     the shared library (runtime)
#   libquorvel-dev  what building against it needs (development)
#   quorvel         the command-line host and its manual (tool)
# each with /usr/share/doc/PACKAGE/ holding its DEP-5 copyright file, its
# changelog and the notices. Included by cmake/install.cmake before CPack.
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quorvel developers <packages@quorvel.org>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The host needs libquorvel.so.1, which no installed package describes yet:
# found here, its dependency stated below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian_ldconfig.cmake)

# The copyright file: the license's terms, as DEP-5 lays them out.
file(READ LICENSE QUORVEL_LICENSE_TERMS)
string(REGEX REPLACE "^.*\n(Permission)" "\\1" QUORVEL_LICENSE_TERMS "${QUORVEL_LICENSE_TERMS}")
string(REGEX REPLACE "\n$" "" QUORVEL_LICENSE_TERMS "${QUORVEL_LICENSE_TERMS}")
string(REPLACE "\n\n" "\n.\n" QUORVEL_LICENSE_TERMS "${QUORVEL_LICENSE_TERMS}")
string(REPLACE "\n" "\n " QUORVEL_LICENSE_TERMS " ${QUORVEL_LICENSE_TERMS}")
set(QUORVEL_DEBIAN ${CMAKE_CURRENT_BINARY_DIR}/debian)
configure_file(packaging/debian/copyright.in ${QUORVEL_DEBIAN}/copyright @ONLY)
add_custom_command(OUTPUT ${QUORVEL_DEBIAN}/changelog.gz
                   COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
                           > ${QUORVEL_DEBIAN}/changelog.gz
                   DEPENDS packaging/debian/changelog VERBATIM)
add_custom_target(quorvel_debian_changelog ALL DEPENDS ${QUORVEL_DEBIAN}/changelog.gz)

set(QUORVEL_SUMMARY "VAT special-invoice text and GBK XML document conversion")
set(QUORVEL_ABOUT [[
Quorvel moves VAT special-invoice data between a TAB-separated text file,
one invoice a line, and a line-oriented XML exchange document declared as
GBK. Conversions are byte-exact, read files through a small window and
write the output only when the whole conversion succeeded.]])

# quorvel_debian_package(PACKAGE COMPONENT SECTION SUMMARY DESCRIPTION [DEPENDS])
function(quorvel_debian_package package component section summary description)
  string(TOUPPER ${package} group)
  string(TOUPPER ${component} upper)
  set(CPACK_COMPONENT_${upper}_GROUP ${package} PARENT_SCOPE)
  set(CPACK_COMPONENT_DEBIAN-${group}_GROUP ${package} PARENT_SCOPE)
  install(FILES ${QUORVEL_DEBIAN}/copyright ${QUORVEL_DEBIAN}/changelog.gz NOTICE
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
          COMPONENT debian-${package} EXCLUDE_FROM_ALL)
  set(CPACK_DEBIAN_${group}_PACKAGE_NAME ${package} PARENT_SCOPE)
  set(CPACK_DEBIAN_${group}_PACKAGE_SECTION ${section} PARENT_SCOPE)
  set(CPACK_DEBIAN_${group}_DESCRIPTION "${summary}\n${QUORVEL_ABOUT}\n\n${description}"
      PARENT_SCOPE)
  if(ARGN)
    set(CPACK_DEBIAN_${group}_PACKAGE_DEPENDS "${ARGN}" PARENT_SCOPE)
  endif()
  set(CPACK_QUORVEL_DEB_COMPONENTS ${CPACK_QUORVEL_DEB_COMPONENTS} ${component}
      debian-${package} PARENT_SCOPE)
endfunction()

set(QUORVEL_EXACT "libquorvel1 (= ${PROJECT_VERSION})")
quorvel_debian_package(libquorvel1 runtime libs "${QUORVEL_SUMMARY} - library"
  "This package holds the shared library, which exports three C functions.")
quorvel_debian_package(libquorvel-dev development libdevel "${QUORVEL_SUMMARY} - development"
  "This package holds the C header quorvel.h, the libquorvel.so link, the
pkg-config file and the CMake package (find_package(Quorvel)) for building
programs that use the library." ${QUORVEL_EXACT})
quorvel_debian_package(quorvel tool utils "${QUORVEL_SUMMARY} - tool"
  "This package holds the quorvel command, which converts either way, checks
a file without writing it, and takes UTF-8 text as well as GBK." ${QUORVEL_EXACT})
# The library's package triggers ldconfig (see cmake/debian_ldconfig.cmake).
set(CPACK_DEBIAN_LIBQUORVEL1_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
