// A text or document converted into a private copy for the library to read
// (UTF-8 text to GBK; a GBK document to UTF-8 for xml2txt's UTF-8 text):
// the content up to its first NUL, which the library takes for the end, a
// UTF-8 byte order mark at its start dropped. Where a character cannot cross,
// the copy stops and its place is named. Lines are counted only for that
// place: what the content holds is the library's to find.
#ifndef QUORVEL_TOOLS_CHARSET_TRANSCODE_H
#define QUORVEL_TOOLS_CHARSET_TRANSCODE_H

#include <cstdint>
#include <cstdio>
#include <string>

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

// Copies `in` converted from `from` to `to` into `out`. A character that
// cannot be converted ends the pass with kNotConvertible and `*stop`.
PassEnd Transcode(std::FILE* in, Charset from, Charset to, std::FILE* out, EncodingStop* stop);

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_CHARSET_TRANSCODE_H
