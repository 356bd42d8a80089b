# The version has one home, project() in CMakeLists.txt; quorvel.h states it
# for hosts as QUORVEL_VERSION_MAJOR/MINOR/PATCH and QUORVEL_VERSION. This
# checks that the header states the same, at configure time (included with
# QUORVEL_HEADER and QUORVEL_HEADER_VERSION set) and as a test (cmake -P).
file(READ "${QUORVEL_HEADER}" quorvel_header)
string(REGEX MATCHALL "[0-9]+" quorvel_parts "${QUORVEL_HEADER_VERSION}")
list(GET quorvel_parts 0 quorvel_major)
list(GET quorvel_parts 1 quorvel_minor)
list(GET quorvel_parts 2 quorvel_patch)
foreach(quorvel_line IN ITEMS "_MAJOR ${quorvel_major}" "_MINOR ${quorvel_minor}"
                              "_PATCH ${quorvel_patch}" " \"${QUORVEL_HEADER_VERSION}\"")
  if(NOT quorvel_header MATCHES "\n#define QUORVEL_VERSION${quorvel_line}\n")
    message(FATAL_ERROR "${QUORVEL_HEADER} lacks \"#define QUORVEL_VERSION${quorvel_line}\": "
                        "it must state the project's version ${QUORVEL_HEADER_VERSION}")
  endif()
endforeach()
