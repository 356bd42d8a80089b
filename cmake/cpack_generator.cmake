# Read by cpack for each generator (CPACK_PROJECT_CONFIG_FILE): an archive
# holds every component in one tree; the Debian generator makes one package
# of each group (cmake/debian.cmake), the documents going there as Debian
# lays them out instead.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENTS_ALL ${CPACK_QUORVEL_DEB_COMPONENTS})
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
  # Each package's description begins with a synopsis of its own, in place
  # of the project's, which CPack would put before it.
  unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
else()
  set(CPACK_COMPONENTS_ALL ${CPACK_QUORVEL_ARCHIVE_COMPONENTS})
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
endif()
