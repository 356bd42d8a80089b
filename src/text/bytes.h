// Byte-string routines on std::string_view.
//
// Lifetime rule for every view in this library: a std::string_view returned by
// these routines points into the bytes it was given (usually the reader's
// window). It is valid only while those bytes stay where they are (the
// window moves when it reads more) and must never be kept beyond that.
#ifndef QUORVEL_TEXT_BYTES_H
#define QUORVEL_TEXT_BYTES_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace quorvel {

// The bytes of `text` from 1-based `start` on, at most `count` of them. A
// start below 1 counts as 1; a start past the end, a negative count or an
// empty text give the empty text.
inline std::string_view CopyText(std::string_view text, std::int64_t start, std::int64_t count) {
  if (start < 1) start = 1;
  if (count < 0 || static_cast<std::uint64_t>(start) > text.size()) return {};
  const std::size_t from = static_cast<std::size_t>(start - 1);
  const std::size_t available = text.size() - from;
  const std::size_t n =
      static_cast<std::uint64_t>(count) < available ? static_cast<std::size_t>(count) : available;
  return text.substr(from, n);
}

// `text` without the bytes 0x00-0x20 at either end. GBK bytes (0x80 up) are
// never removed.
inline std::string_view TrimBlankAndControl(std::string_view text) {
  // Most values have nothing to trim.
  if (!text.empty() && static_cast<unsigned char>(text.front()) > 0x20 &&
      static_cast<unsigned char>(text.back()) > 0x20) {
    return text;
  }
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 0x20) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 0x20) --end;
  return text.substr(begin, end - begin);
}

// The value of an element on one document line, from its opening tag found
// at 0-based `open` (length `open_size`) and its closing tag found at 0-based
// `close` (each the first of its kind on the line, searched from the start of
// the line on its own): the bytes between them trimmed by
// TrimBlankAndControl; empty when the closing tag does not come after the
// opening one. Names match byte for byte, case-sensitively.
inline std::string_view ElementValueBetween(std::string_view line, std::size_t open,
                                            std::size_t open_size, std::size_t close) {
  const std::size_t value_begin = open + open_size;
  if (close <= value_begin) return {};
  return TrimBlankAndControl(line.substr(value_begin, close - value_begin));
}

// Copies `text` into a caller buffer of at least 256 bytes as a NUL-terminated
// string: the first min(size, 255) bytes, then NUL. Nothing after the NUL is
// touched. The limit counts bytes, so a GBK character can lose its second one.
void CopyToCallerBuffer(std::string_view text, char* buffer);

}  // namespace quorvel

#endif  // QUORVEL_TEXT_BYTES_H
