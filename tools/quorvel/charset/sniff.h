// A look at the start of an input, before the library reads it: a byte
// order mark, whether it is an exchange document or a text, and whether its
// characters look like UTF-8. Only the first block is read: the content's
// own findings come from the library's reading.
#ifndef QUORVEL_TOOLS_CHARSET_SNIFF_H
#define QUORVEL_TOOLS_CHARSET_SNIFF_H

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "charset/charset.h"

namespace quorvel::cli {

struct Head {
  std::optional<Charset> bom;  // the set a byte order mark names: UTF-8, UTF-16 LE or BE
  bool document = false;       // its first character, after the mark and blanks, is "<"
  bool blank = true;           // nothing but blanks and control characters
  bool looks_utf8 = false;     // no mark; valid UTF-8 with a byte above 0x7F
};

// How many bytes of an input are looked at.
inline constexpr std::size_t kHeadBytes = std::size_t{1} << 16;

// The head of `bytes` (at most kHeadBytes of the content; `cut` when more
// follows).
Head LookAtHead(std::string_view bytes, bool cut);

// Reads up to kHeadBytes of `file` into `*bytes`; false when the read failed.
bool ReadHead(std::FILE* file, std::string* bytes);

// The byte order mark of `charset` ("" for none).
std::string_view ByteOrderMark(Charset charset);

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_CHARSET_SNIFF_H
