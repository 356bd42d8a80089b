// Text to document through the export, on arbitrary bytes: the input file,
// the document type code, nsr and qymc. Checks the result contract: ResultOk
// with a well-formed document whose row count is the input's line count, or
// ResultFailed with one of the conversion's messages and nothing saved. The
// fuzzing build reads through a window of a few bytes, so the input crosses
// its edges; window_fuzz compares the outcome with a whole read.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "boundary/last_error.h"
#include "support/memory_platform.h"
#include "quorvel.h"
#include "support/line_list.h"
#include "text_call.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "txt2xml_fuzz: %s\n", what);
    __builtin_trap();
  }
}

// The whole stored message: the host's buffer would cut a long one at 255
// bytes.
std::string LastError() { return std::string(quorvel::LastError().text()); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const qfuzz::TextCall call = qfuzz::TakeTextCall(bytes);
  bytes = call.file;
  const int32_t code = call.code;
  const std::string& nsr = call.nsr;
  const std::string& qymc = call.qymc;
  qtest::InstallMemoryPlatform(bytes);
  const int32_t result = Quorvel_TXT2XML("in", "out", code, nsr.c_str(), qymc.c_str());
  const std::string message = LastError();
  if (result == QUORVEL_RESULT_OK) {
    Check(message.empty(), "success with a message");
    Check(qtest::MemoryFiles::replaced, "success without a saved document");
    const std::string& doc = qtest::MemoryFiles::saved;
    Check(doc.rfind("<?xml version=\"1.0\"  encoding=\"GBK\"?>\r\n", 0) == 0, "declaration");
    Check(doc.size() >= 9 && doc.compare(doc.size() - 9, 9, "</body>\r\n") == 0, "body close");
    const qtest::LineList input(bytes);
    const std::string rows = "  <rows>" + std::to_string(input.Count()) + "</rows>\r\n";
    Check(doc.find(rows) != std::string::npos, "row count");
  } else {
    Check(result == QUORVEL_RESULT_FAILED, "result code");
    const std::string tail = "' is not a valid integer value";
    Check(message.size() > tail.size() && message[0] == '\'' &&
              message.compare(message.size() - tail.size(), tail.size(), tail) == 0,
          "message");
    Check(!qtest::MemoryFiles::replaced, "failure saved a document");
  }
  return 0;
}
