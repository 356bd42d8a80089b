#include "common/failure.h"

#include <charconv>

#include "common/sizes.h"

namespace quorvel {

std::string_view MessageTemplate(MessageId id) {
  // No default: a new MessageId without a text here is a compile error.
  switch (id) {
    case MessageId::kCannotOpenFile:
      return "Cannot open file %s";
    case MessageId::kCannotCreateFile:
      return "Cannot create file %s";
    case MessageId::kStreamWriteError:
      return "Stream write error";
    case MessageId::kListIndexOutOfBounds:
      return "List index out of bounds (%d)";
    case MessageId::kNotValidInteger:
      return "'%s' is not a valid integer value";
    case MessageId::kOutOfMemory:
      return "Out of memory";
  }
  return {};
}

std::string FormatMessage(MessageId id, std::string_view value) {
  const std::string_view pattern = MessageTemplate(id);
  const std::size_t mark = pattern.find('%');
  if (mark == std::string_view::npos) return std::string(pattern);
  std::string message;
  message.reserve(AddOrOutOfMemory(pattern.size() - 2, value.size()));
  message.append(pattern.substr(0, mark));
  message.append(value);
  message.append(pattern.substr(mark + 2));
  return message;
}

std::string_view OutOfMemoryText() noexcept { return "Out of memory"; }

void RaiseCannotOpenFile(std::string_view path, int system_error) {
  throw Failure(MessageId::kCannotOpenFile, FormatMessage(MessageId::kCannotOpenFile, path),
                std::string(path), system_error);
}

void RaiseCannotCreateFile(std::string_view path, int system_error) {
  throw Failure(MessageId::kCannotCreateFile, FormatMessage(MessageId::kCannotCreateFile, path),
                std::string(path), system_error);
}

void RaiseStreamWriteError(int system_error) {
  throw Failure(MessageId::kStreamWriteError, FormatMessage(MessageId::kStreamWriteError, {}), {},
                system_error);
}

void RaiseListIndexOutOfBounds(std::int32_t index, Unfinished search, std::int64_t line) {
  // std::to_chars: plain decimal, "-" for a negative value, no locale.
  char digits[16];
  const auto end = std::to_chars(digits, digits + sizeof digits, index).ptr;
  Failure failure(MessageId::kListIndexOutOfBounds,
                  FormatMessage(MessageId::kListIndexOutOfBounds,
                                std::string_view(digits, static_cast<std::size_t>(end - digits))));
  throw std::move(failure.At(search, line));
}

void RaiseNotValidInteger(std::string_view text) {
  throw Failure(MessageId::kNotValidInteger, FormatMessage(MessageId::kNotValidInteger, text));
}

}  // namespace quorvel
