// An input converted into a private copy for the library to read (a text
// to GBK from UTF-8 or UTF-16; a GBK document to UTF-8 for xml2txt's UTF-8
// text): the content up to its first NUL byte (for UTF-16, its first U+0000),
// which the library takes for the end, a byte order mark of the source set
// at its start dropped. Where a character cannot cross, the copy stops and
// its place is named. Lines are counted only for that place: what the
// content holds is the library's to find.
#ifndef QUORVEL_TOOLS_CHARSET_TRANSCODE_H
#define QUORVEL_TOOLS_CHARSET_TRANSCODE_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "charset/charset.h"
#include "system/files.h"

namespace quorvel::cli {

// Where a conversion stopped: 1-based line and column (in characters), and
// what stands there (DescribeStop).
struct EncodingStop {
  std::int64_t line = 0;
  std::size_t column = 0;
  std::string what;
};

// Copies `head` (the content's first bytes, its byte order mark whole) and
// then the rest of `in`, converted from `from` to `to`
// (GBK or UTF-8), into `out`. A character that cannot be converted ends the
// pass with kNotConvertible and `*stop`.
PassEnd Transcode(std::string_view head, std::FILE* in, Charset from, Charset to, std::FILE* out,
                  EncodingStop* stop);

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_CHARSET_TRANSCODE_H
