// The message of the failure a call raises, for tests of routines below the
// exports (which raise, and never catch).
#ifndef QUORVEL_TESTS_SUPPORT_MESSAGE_OF_H
#define QUORVEL_TESTS_SUPPORT_MESSAGE_OF_H

#include <string>

#include "common/failure.h"

namespace qtest {

// The whole message, or "<no failure>" when the call returns.
template <typename Call>
std::string MessageOf(Call&& call) {
  try {
    call();
  } catch (const quorvel::Failure& failure) {
    return failure.message();
  }
  return "<no failure>";
}

}  // namespace qtest

#endif  // QUORVEL_TESTS_SUPPORT_MESSAGE_OF_H
