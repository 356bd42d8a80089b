# Run by cpack after it made the Debian packages (CPACK_POST_BUILD_SCRIPTS).
# CPack gives a package holding a shared library a postinst and a postrm that
# call ldconfig themselves; Debian runs ldconfig once for all packages through
# the trigger the library's package declares instead, and its policy checker
# (lintian) rejects the scripts. They are taken out of the packages here.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  set(tree ${package}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb -R ${package} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  if(EXISTS ${tree}/DEBIAN/postinst OR EXISTS ${tree}/DEBIAN/postrm)
    file(REMOVE ${tree}/DEBIAN/postinst ${tree}/DEBIAN/postrm)
    execute_process(COMMAND dpkg-deb --root-owner-group -Zxz -b ${tree} ${package}
                    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
  file(REMOVE_RECURSE ${tree})
endforeach()
