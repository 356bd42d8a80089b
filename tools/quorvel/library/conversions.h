// The library's two conversions, called directly: the host links the core
// and is told what a conversion finds through its observer, and how it
// failed as a value. Nothing here reads meaning out of a message text.
#ifndef QUORVEL_TOOLS_LIBRARY_CONVERSIONS_H
#define QUORVEL_TOOLS_LIBRARY_CONVERSIONS_H

#include <cstdint>
#include <string>
#include <string_view>

#include "boundary/capture.h"
#include "convert/findings.h"

namespace quorvel::cli {

// txt2xml: the text `in` to the document `out`.
Outcome TextToDocument(const std::string& in, const std::string& out, std::int32_t type,
                       std::string_view nsr, std::string_view qymc, const ConvertOptions& options);

// xml2txt: the document `in` to the text `out`, with the document's rows
// value and nsr text (set whenever every row was read: on success and on
// incomplete rows).
struct DocumentOutcome {
  Outcome outcome;
  std::int32_t rows = 0;
  std::string nsr;
};
DocumentOutcome DocumentToText(const std::string& in, const std::string& out,
                               const ConvertOptions& options);

// The exact text a failure carries, as the exports would store it.
std::string_view MessageOf(const Outcome& outcome);

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_LIBRARY_CONVERSIONS_H
