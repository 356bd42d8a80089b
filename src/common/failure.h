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

class Failure {
 public:
  explicit Failure(std::string message) noexcept : message_(std::move(message)) {}
  std::string& message() noexcept { return message_; }
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
};

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

// The template of a message: "%s" and "%d" mark where its one value goes.
std::string_view MessageTemplate(MessageId id);

// The template with its placeholder replaced by `value` (unchanged when the
// template has none).
std::string FormatMessage(MessageId id, std::string_view value);

// "Out of memory": a constant, so reporting exhausted memory needs none.
std::string_view OutOfMemoryText() noexcept;

[[noreturn]] void RaiseCannotOpenFile(std::string_view path);
[[noreturn]] void RaiseCannotCreateFile(std::string_view path);
[[noreturn]] void RaiseStreamWriteError();
[[noreturn]] void RaiseListIndexOutOfBounds(std::int32_t index);
[[noreturn]] void RaiseNotValidInteger(std::string_view text);

}  // namespace quorvel

#endif  // QUORVEL_COMMON_FAILURE_H
