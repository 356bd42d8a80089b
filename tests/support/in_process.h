// For tests that compile the exports into the test program itself.
#ifndef QUORVEL_TESTS_SUPPORT_IN_PROCESS_H
#define QUORVEL_TESTS_SUPPORT_IN_PROCESS_H

#include <string>

#include "quorvel.h"

namespace qtest {

// The last-error text as a host fetches it (256-byte buffer).
inline std::string LastError() {
  char buffer[QUORVEL_BUFFER_SIZE];
  Quorvel_GetLastError(buffer);
  return buffer;
}

}  // namespace qtest

#endif
