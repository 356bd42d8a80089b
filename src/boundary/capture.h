// The failure capture: runs a conversion and turns whatever it raises into a
// value. The exports store that value's message in the last-error slot; the
// command-line host, which calls the conversions directly, presents it. One
// capture for both, so a host is told exactly what the exports would say.
#ifndef QUORVEL_BOUNDARY_CAPTURE_H
#define QUORVEL_BOUNDARY_CAPTURE_H

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "common/failure.h"

namespace quorvel {

struct Outcome {
  // The conversion succeeded. False with kind() unset (no failure) only for
  // xml2txt's incomplete rows, which have no message.
  bool ok = false;
  bool failed = false;  // a failure was raised: the fields below describe it
  MessageId kind = MessageId::kOutOfMemory;
  std::string message;   // exactly the export's last-error text (uncut); empty for
                         // kOutOfMemory, whose text is OutOfMemoryText()
  std::string file;      // the file the failure concerns; empty when none
  int system_error = 0;  // the system's error number; 0 when there was none
  Unfinished unfinished = Unfinished::kNone;
  std::int64_t line = 0;
};

// A failure of a type the library never raises, told as "Cannot create file".
inline void CaptureUnforeseen(Outcome& outcome, std::string_view output_path,
                              int system_error) noexcept {
  try {
    outcome.message = FormatMessage(MessageId::kCannotCreateFile, output_path);
    outcome.file.assign(output_path);
    outcome.kind = MessageId::kCannotCreateFile;
    outcome.system_error = system_error;
  } catch (...) {
    // No memory even for the text: the prepared one.
    outcome.kind = MessageId::kOutOfMemory;
    outcome.message.clear();
    outcome.file.clear();
  }
}

// Runs conversion() (which returns whether it succeeded) and captures what
// it raises. Exhausted memory (std::bad_alloc, and std::length_error for a
// size beyond what can be addressed) is "Out of memory". Anything else the
// library never raises itself (a failure of the standard library's threads,
// or what an observer raises) is told as the conversion not making its
// output, "Cannot create file <output_path>": never as "Out of memory",
// which would send a host looking for memory it does not lack. Nothing was
// put in place in either case. Never raises.
template <typename Conversion>
Outcome Capture(Conversion&& conversion, std::string_view output_path = {}) noexcept {
  Outcome outcome;
  outcome.failed = true;
  try {
    outcome.ok = conversion();
    outcome.failed = false;
  } catch (Failure& failure) {
    outcome.kind = failure.kind();
    outcome.message = std::move(failure.message());
    outcome.file = std::move(const_cast<std::string&>(failure.file()));
    outcome.system_error = failure.system_error();
    outcome.unfinished = failure.unfinished();
    outcome.line = failure.line();
  } catch (const std::bad_alloc&) {
    outcome.kind = MessageId::kOutOfMemory;
  } catch (const std::length_error&) {
    outcome.kind = MessageId::kOutOfMemory;
  } catch (const std::system_error& error) {
    CaptureUnforeseen(outcome, output_path, error.code().value());
  } catch (...) {
    CaptureUnforeseen(outcome, output_path, 0);
  }
  return outcome;
}

}  // namespace quorvel

#endif  // QUORVEL_BOUNDARY_CAPTURE_H
