// The one failure type of the library and the texts of its messages.
//
// Every routine below the exports reports a failure by raising a Failure that
// already carries the final message text. Nothing below the exports catches
// it; the exports store the text in the last-error slot. Memory exhaustion is
// raised as std::bad_alloc by the allocator and reported by the exports with
// OutOfMemoryText(), which is a constant and needs no memory.
#ifndef QUORVEL_COMMON_FAILURE_H
#define QUORVEL_COMMON_FAILURE_H

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

// Each message the host can receive. The templates live in one table
// (failure.cpp) so that tests can hold every text to its exact bytes.
enum class MessageId {
  kCannotOpenFile,
  kCannotCreateFile,
  kStreamWriteError,
  kListIndexOutOfBounds,
  kNotValidInteger,
  kOutOfMemory,
};

// Which search of a returned document ran past its last line, for
// "List index out of bounds".
enum class Unfinished {
  kNone,
  kNsr,       // no line holds a non-empty nsr value
  kRows,      // no line holds a non-empty rows value
  kDataLine,  // no line after the first holds "<data>"
  kRowBlock,  // a row block (or the next one the rows value announces) has no closing line
};

// A failure as a value: its kind, the message exactly as the exports give it,
// the file it concerns (empty when none), the system's error number where
// the system gave one (0 otherwise), and for "List index out of bounds" the
// search that ran out and the 1-based line where it started.
class Failure {
 public:
  explicit Failure(MessageId kind, std::string message, std::string file = {},
                   int system_error = 0) noexcept
      : kind_(kind),
        message_(std::move(message)),
        file_(std::move(file)),
        system_error_(system_error) {}
  MessageId kind() const noexcept { return kind_; }
  std::string& message() noexcept { return message_; }
  const std::string& message() const noexcept { return message_; }
  const std::string& file() const noexcept { return file_; }
  int system_error() const noexcept { return system_error_; }
  Unfinished unfinished() const noexcept { return unfinished_; }
  std::int64_t line() const noexcept { return line_; }
  Failure& At(Unfinished search, std::int64_t line) noexcept {
    unfinished_ = search;
    line_ = line;
    return *this;
  }

 private:
  MessageId kind_;
  std::string message_;
  std::string file_;
  int system_error_ = 0;
  Unfinished unfinished_ = Unfinished::kNone;
  std::int64_t line_ = 0;
};

// The template of a message: "%s" and "%d" mark where its one value goes.
std::string_view MessageTemplate(MessageId id);

// The template with its placeholder replaced by `value` (unchanged when the
// template has none).
std::string FormatMessage(MessageId id, std::string_view value);

// "Out of memory": a constant, so reporting exhausted memory needs none.
std::string_view OutOfMemoryText() noexcept;

// `system_error`: the system's error number behind the failure, 0 for none.
[[noreturn]] void RaiseCannotOpenFile(std::string_view path, int system_error = 0);
[[noreturn]] void RaiseCannotCreateFile(std::string_view path, int system_error = 0);
[[noreturn]] void RaiseStreamWriteError(int system_error = 0);
// `search`: the search that ran past the last line, begun at `line`.
[[noreturn]] void RaiseListIndexOutOfBounds(std::int32_t index,
                                            Unfinished search = Unfinished::kNone,
                                            std::int64_t line = 0);
[[noreturn]] void RaiseNotValidInteger(std::string_view text);

}  // namespace quorvel

#endif  // QUORVEL_COMMON_FAILURE_H
