#include "library/conversions.h"

#include "convert/convert.h"
#include "document/layout.h"
#include "quorvel.h"

namespace quorvel::cli {

Outcome TextToDocument(const std::string& in, const std::string& out, std::int32_t type,
                       std::string_view nsr, std::string_view qymc, const ConvertOptions& options) {
  const std::string_view title = document::TitleForDocumentType(type);
  return Capture(
      [&] {
        ConvertTextToDocument(in.c_str(), out.c_str(), type, title, nsr, qymc, options);
        return true;
      },
      out);
}

DocumentOutcome DocumentToText(const std::string& in, const std::string& out,
                               const ConvertOptions& options) {
  DocumentOutcome result;
  char nsr[QUORVEL_BUFFER_SIZE] = "";
  char reserved[QUORVEL_BUFFER_SIZE] = "";
  result.outcome = Capture(
      [&] {
        return ConvertDocumentToText(in.c_str(), out.c_str(), &result.rows, nsr, reserved, options);
      },
      out);
  result.nsr = nsr;
  return result;
}

std::string_view MessageOf(const Outcome& outcome) {
  return outcome.kind == MessageId::kOutOfMemory ? OutOfMemoryText()
                                                 : std::string_view(outcome.message);
}

}  // namespace quorvel::cli
