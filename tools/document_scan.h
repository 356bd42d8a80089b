// Passes over a returned document: converting it from GBK to UTF-8 for the
// library (--encoding utf-8), and naming the incomplete rows after the
// library reported some.
#ifndef QUORVEL_TOOLS_DOCUMENT_SCAN_H
#define QUORVEL_TOOLS_DOCUMENT_SCAN_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "charset.h"
#include "row_tracker.h"
#include "text_scan.h"

namespace quorvel::cli {

// The first row block whose kr or rq value has a byte above 0x7F among its
// first eight (ordinal 0: none), and where that value begins.
struct NonAsciiDate {
  std::int64_t ordinal = 0;
  std::string row;
  std::string_view element;
  Place place;
};

// Reads the document `in` to its end, writing every line converted from GBK
// to UTF-8, with its line break, to `copy`. A line that is not GBK ends the
// pass with kNotConvertible and `*stop` (naming its row block, if any).
// Content after a NUL is never read: the library ignores it.
PassEnd ConvertDocument(std::FILE* in, Converter* to_utf8, std::FILE* copy, NonAsciiDate* date,
                        EncodingStop* stop);

struct IncompleteRows {
  std::vector<RowBlock> shown;  // the first kShownNotes of them
  std::int64_t count = 0;       // all of them
};

// Reads the first `rows` row blocks of the document `in` and keeps the
// incomplete ones. False when a read failed.
bool FindIncompleteRows(std::FILE* in, std::int64_t rows, IncompleteRows* found);

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_DOCUMENT_SCAN_H
