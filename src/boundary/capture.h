// The failure capture: runs a conversion and turns whatever it raises into a
// value. The exports store that value's message in the last-error slot; the
// command-line host, which calls the conversions directly, presents it. One
// capture for both, so a host is told exactly what the exports would say.
#ifndef QUORVEL_BOUNDARY_CAPTURE_H
#define QUORVEL_BOUNDARY_CAPTURE_H

#include <cstdint>
#include <string>
#include <utility>

#include "common/failure.h"

namespace quorvel {

struct Outcome {
  // The conversion succeeded. False with kind() unset (no failure) only for
  // xml2txt's incomplete rows, which have no message.
  bool ok = false;
  bool failed = false;  // a failure was raised: the fields below describe it
  MessageId kind = MessageId::kOutOfMemory;
  std::string message;  // exactly the export's last-error text (uncut); empty for
                        // kOutOfMemory, whose text is OutOfMemoryText()
  std::string file;     // the file the failure concerns; empty when none
  int system_error = 0; // the system's error number; 0 when there was none
  Unfinished unfinished = Unfinished::kNone;
  std::int64_t line = 0;
};

// Runs conversion() (which returns whether it succeeded) and captures what
// it raises. Never raises.
template <typename Conversion>
Outcome Capture(Conversion&& conversion) noexcept {
  Outcome outcome;
  try {
    outcome.ok = conversion();
    return outcome;
  } catch (Failure& failure) {
    outcome.kind = failure.kind();
    outcome.message = std::move(failure.message());
    outcome.file = std::move(const_cast<std::string&>(failure.file()));
    outcome.system_error = failure.system_error();
    outcome.unfinished = failure.unfinished();
    outcome.line = failure.line();
  } catch (...) {
    // Memory exhausted (std::bad_alloc, std::length_error) and anything
    // unforeseen: the prepared text, which needs no memory.
    outcome.kind = MessageId::kOutOfMemory;
  }
  outcome.failed = true;
  return outcome;
}

}  // namespace quorvel

#endif  // QUORVEL_BOUNDARY_CAPTURE_H
