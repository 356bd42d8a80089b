#include "document/layout.h"

namespace quorvel::document {
namespace {

// "Deduction-copy information of VAT special invoices, collected by the
// enterprise, awaiting authentication" (42 bytes).
constexpr std::string_view kTitleAwaitingAuthentication =
    "\xD4\xF6\xD6\xB5\xCB\xB0\xD7\xA8\xD3\xC3\xB7\xA2\xC6\xB1\xB5\xD6\xBF\xDB\xC1\xAA\xD0"
    "\xC5\xCF\xA2\xC6\xF3\xD2\xB5\xB2\xC9\xBC\xAF\xB4\xFD\xC8\xCF\xD6\xA4\xCA\xFD\xBE\xDD";
// "Deduction-copy information of VAT special invoices whose authentication
// matched" (36 bytes).
constexpr std::string_view kTitleAuthenticationMatched =
    "\xD4\xF6\xD6\xB5\xCB\xB0\xD7\xA8\xD3\xC3\xB7\xA2\xC6\xB1\xB5\xD6\xBF\xDB"
    "\xC1\xAA\xD0\xC5\xCF\xA2\xC8\xCF\xD6\xA4\xCF\xE0\xB7\xFB\xCA\xFD\xBE\xDD";
// "Unknown data file" (14 bytes).
constexpr std::string_view kTitleUnknown = "\xCE\xB4\xD6\xAA\xB5\xC4\xCA\xFD\xBE\xDD\xCE\xC4\xBC\xFE";

}  // namespace

std::string_view TitleForDocumentType(std::int32_t code) {
  if (code == 100) return kTitleAwaitingAuthentication;
  if (code == 102) return kTitleAuthenticationMatched;
  return kTitleUnknown;
}

}  // namespace quorvel::document
