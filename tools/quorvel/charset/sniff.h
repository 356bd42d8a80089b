// A look at the start of an input, before the library reads it: whether it
// is an exchange document or a text, and whether its characters look like
// UTF-8. Only the first block is read: the content's own findings come from
// the library's reading.
#ifndef QUORVEL_TOOLS_CHARSET_SNIFF_H
#define QUORVEL_TOOLS_CHARSET_SNIFF_H

#include <cstddef>
#include <cstdio>
#include <string_view>

namespace quorvel::cli {

struct Head {
  bool document = false;    // its first byte, after a byte order mark and blanks, is "<"
  bool looks_utf8 = false;  // valid UTF-8 with a byte above 0x7F
};

// How many bytes of an input are looked at.
inline constexpr std::size_t kHeadBytes = std::size_t{1} << 16;

// The head of `bytes` (at most kHeadBytes of the content; `cut` when more follows).
Head LookAtHead(std::string_view bytes, bool cut);

// Reads up to kHeadBytes of `file` from where it stands and looks at them.
Head ReadHead(std::FILE* file);

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_CHARSET_SNIFF_H
