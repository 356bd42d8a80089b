# find_package(Quorvel) gives the imported target Quorvel::quorvel: the shared
# library (Quorvel.dll with its import library Quorvel.lib on Windows) and the
# folder of quorvel.h.
include(${CMAKE_CURRENT_LIST_DIR}/QuorvelTargets.cmake)
