// Document to text through the export, on arbitrary documents. Checks which
// host memory each outcome may touch, and that an output is saved exactly
// when the result is ResultOk.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "memory_platform.h"
#include "quorvel.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "xml2txt_fuzz: %s\n", what);
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  qfuzz::InstallMemoryPlatform(bytes);
  int32_t rows = 0x5A5A5A5A;
  std::array<char, QUORVEL_BUFFER_SIZE> nsr;
  std::array<char, QUORVEL_BUFFER_SIZE> reserved;
  nsr.fill('\x5A');
  reserved.fill('\x5A');
  const int32_t result =
      Quorvel_XML2TXT("in", "out", 0, &rows, nsr.data(), reserved.data());
  char message[QUORVEL_BUFFER_SIZE];
  Quorvel_GetLastError(message);
  const bool buffers_written = reserved[0] == '\0' && reserved[1] == '\x5A';
  const bool buffers_untouched = reserved[0] == '\x5A' && nsr[0] == '\x5A';
  if (result == QUORVEL_RESULT_OK) {
    Check(message[0] == '\0', "success with a message");
    Check(qfuzz::MemoryFiles::replaced, "success without saving");
    Check(buffers_written, "success without filling the buffers");
    Check(nsr[0] != '\0', "success with an empty nsr");
    const std::string& out = qfuzz::MemoryFiles::saved;
    Check(rows > 0 || out.empty(), "rows <= 0 must write an empty file");
    Check(out.empty() || out.compare(out.size() - 2, 2, "\r\n") == 0, "line ends");
  } else {
    Check(result == QUORVEL_RESULT_FAILED, "result code");
    Check(!qfuzz::MemoryFiles::replaced, "failure saved an output");
    if (message[0] == '\0') {
      Check(buffers_written, "incomplete rows must fill the buffers");
      Check(rows > 0, "incomplete rows need rows");
    } else {
      Check(buffers_written || buffers_untouched, "buffers half written");
    }
  }
  return 0;
}
