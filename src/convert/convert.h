// The two file-to-file conversions. Both raise Failure (or std::bad_alloc)
// and catch nothing: the exports turn what they raise into a result code and
// the last-error text.
#ifndef QUORVEL_CONVERT_CONVERT_H
#define QUORVEL_CONVERT_CONVERT_H

#include <cstdint>
#include <string_view>

#include "convert/findings.h"
#include "text/numbers.h"

namespace quorvel {

// Reads the tab-separated file `input_path` and writes the exchange document
// to `output_path`: a header made of `code`, `title`, `nsr`, `qymc`, today's
// date (or `options.date`) and the number of input lines, then a row per
// input line. The output is put in place only when everything succeeded.
// Null paths are empty paths. What it finds goes to `options.findings`.
void ConvertTextToDocument(const char* input_path, const char* output_path, std::int32_t code,
                           std::string_view title, std::string_view nsr, std::string_view qymc,
                           const ConvertOptions& options = {});

// The document's date as "yyyymmdd": `date`, or today's local date from the
// platform's clock (which tests pin there) when it is null.
NumberText DocumentDate(const Date* date);

// Reads the returned document `input_path`, stores its row count through
// `rows_count` as soon as it is read, fills `nsr_buffer` and
// `reserved_buffer` (256 bytes each) after the last row, and writes one
// tab-separated line per row to `output_path`. Returns false, writing no
// file, when a row lacked one of its eleven values. With `options.findings`
// set, the document is read to its end so that its row blocks are counted.
bool ConvertDocumentToText(const char* input_path, const char* output_path,
                           std::int32_t* rows_count, char* nsr_buffer, char* reserved_buffer,
                           const ConvertOptions& options = {});

}  // namespace quorvel

#endif  // QUORVEL_CONVERT_CONVERT_H
