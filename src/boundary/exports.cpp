// The three exported functions and the failure capture around the two
// conversions. No exception ever crosses this boundary.
#include <string_view>
#include <utility>

#include "boundary/capture.h"
#include "boundary/last_error.h"
#include "common/entry.h"
#include "common/failure.h"
#include "convert/convert.h"
#include "document/layout.h"
#include "quorvel.h"
#include "text/bytes.h"

namespace quorvel {
namespace {

LastErrorSlot last_error;

std::string_view HostText(const char* text) {
  return text ? std::string_view(text) : std::string_view();
}

// Empties the slot, runs the conversion, and turns whatever it raises into
// QUORVEL_RESULT_FAILED with the message stored. Every allocation made for the
// call is released by the conversion's own objects on the way out.
template <typename Conversion>
std::int32_t RunCaptured(const char* output_path, Conversion&& conversion) noexcept {
  last_error.Clear();
  Outcome outcome = Capture(conversion, HostText(output_path));
  if (outcome.failed) {
    if (outcome.kind == MessageId::kOutOfMemory) {
      last_error.StoreConstant(OutOfMemoryText());
    } else {
      last_error.Store(std::move(outcome.message));
    }
  }
  return outcome.ok ? QUORVEL_RESULT_OK : QUORVEL_RESULT_FAILED;
}

}  // namespace

LastErrorSlot& LastError() noexcept { return last_error; }

}  // namespace quorvel

// A host calls these on a stack aligned as it pleases (common/entry.h).
extern "C" {

QUORVEL_REALIGNS_STACK QUORVEL_API int32_t QUORVEL_CALL Quorvel_GetLastError(char* MessageBuffer) {
  quorvel::CopyToCallerBuffer(quorvel::LastError().text(), MessageBuffer);
  return QUORVEL_RESULT_OK;
}

QUORVEL_REALIGNS_STACK QUORVEL_API int32_t QUORVEL_CALL Quorvel_TXT2XML(const char* InputFileName,
                                                                        const char* OutputFileName,
                                                                        int32_t DocumentTypeCode,
                                                                        const char* NsrText,
                                                                        const char* QymcText) {
  // The title is chosen before the slot is cleared; the choice cannot fail.
  const std::string_view title = quorvel::document::TitleForDocumentType(DocumentTypeCode);
  return quorvel::RunCaptured(OutputFileName, [&] {
    quorvel::ConvertTextToDocument(InputFileName, OutputFileName, DocumentTypeCode, title,
                                   quorvel::HostText(NsrText), quorvel::HostText(QymcText));
    return true;
  });
}

QUORVEL_REALIGNS_STACK QUORVEL_API int32_t QUORVEL_CALL
Quorvel_XML2TXT(const char* InputFileName, const char* OutputFileName, int32_t Reserved,
                int32_t* RowsCount, char* NsrBuffer, char* ReservedBuffer) {
  (void)Reserved;  // never read
  return quorvel::RunCaptured(OutputFileName, [&] {
    return quorvel::ConvertDocumentToText(InputFileName, OutputFileName, RowsCount, NsrBuffer,
                                          ReservedBuffer);
  });
}

}  // extern "C"
