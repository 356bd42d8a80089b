// One pass over a text before txt2xml hands it to the library: which lines
// will become empty rows, whether the text looks like UTF-8, and, when asked,
// the text written out for the library (converted from UTF-8 to GBK, or as
// it is when it comes from standard input).
#ifndef QUORVEL_TOOLS_TEXT_SCAN_H
#define QUORVEL_TOOLS_TEXT_SCAN_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "charset.h"
#include "files.h"

namespace quorvel::cli {

// Diagnostics name this many lines or rows, then count the rest.
inline constexpr std::size_t kShownNotes = 20;

// A line that is neither a full (10 fields) nor a short (8 fields) record:
// the library writes it as a row without elements.
struct OddLine {
  std::int64_t line = 0;
  std::int32_t fields = 0;
};

struct TextFindings {
  std::int64_t lines = 0;
  std::int64_t full_rows = 0;
  std::int64_t short_rows = 0;
  std::vector<OddLine> odd;    // the first kShownNotes of them
  std::int64_t odd_count = 0;  // all of them
  bool valid_utf8 = true;      // every line read is UTF-8
  bool non_ascii = false;      // some byte is above 0x7F

  bool LooksUtf8() const { return valid_utf8 && non_ascii; }
};

// Where a conversion stopped: 1-based line and column (in characters), what
// stands there (DescribeStop), and the row block holding it, if any.
struct EncodingStop {
  std::int64_t line = 0;
  std::size_t column = 0;
  std::string what;
  std::string row;
};

// Reads the text `in` to its end. With `to_gbk`, every line is converted
// from UTF-8 (a leading byte order mark dropped) and a line that cannot be
// ends the pass with kNotConvertible and `*stop`. With `copy`, the lines
// (converted, or as read) and their line breaks are written there. Content
// after a NUL is never read: the library ignores it.
PassEnd ScanText(std::FILE* in, Converter* to_gbk, std::FILE* copy, TextFindings* findings,
                 EncodingStop* stop);

// Writes `text` and `line_break` to `copy`; false when the write failed.
bool WriteLine(std::FILE* copy, std::string_view text, std::string_view line_break);

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_TEXT_SCAN_H
