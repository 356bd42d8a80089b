// Document to text through the export, on arbitrary documents. Checks which
// host memory each outcome may touch, and that an output is saved exactly
// when the result is ResultOk. The fuzzing build reads through a window of a
// few bytes, so the input crosses its edges; window_fuzz compares the
// outcome with a whole read.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "support/memory_platform.h"
#include "quorvel.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "xml2txt_fuzz: %s\n", what);
    __builtin_trap();
  }
}

struct Run {
  int32_t result = 0;
  int32_t rows = 0x5A5A5A5A;
  std::array<char, QUORVEL_BUFFER_SIZE> nsr;
  std::array<char, QUORVEL_BUFFER_SIZE> reserved;
  std::array<char, QUORVEL_BUFFER_SIZE> message;
  bool replaced = false;
  std::string saved;
  bool operator==(const Run&) const = default;
};

Run Convert(std::string_view bytes) {
  qtest::InstallMemoryPlatform(bytes);
  Run run;
  run.nsr.fill('\x5A');
  run.reserved.fill('\x5A');
  run.message.fill('\x5A');
  run.result = Quorvel_XML2TXT("in", "out", 0, &run.rows, run.nsr.data(), run.reserved.data());
  Quorvel_GetLastError(run.message.data());
  run.replaced = qtest::MemoryFiles::replaced;
  run.saved = qtest::MemoryFiles::saved;
  return run;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const Run run = Convert(bytes);
  const int32_t result = run.result;
  const int32_t rows = run.rows;
  const auto& nsr = run.nsr;
  const auto& reserved = run.reserved;
  const char* const message = run.message.data();
  const bool buffers_written = reserved[0] == '\0' && reserved[1] == '\x5A';
  const bool buffers_untouched = reserved[0] == '\x5A' && nsr[0] == '\x5A';
  if (result == QUORVEL_RESULT_OK) {
    Check(message[0] == '\0', "success with a message");
    Check(run.replaced, "success without saving");
    Check(buffers_written, "success without filling the buffers");
    Check(nsr[0] != '\0', "success with an empty nsr");
    const std::string& out = run.saved;
    Check(rows > 0 || out.empty(), "rows <= 0 must write an empty file");
    Check(out.empty() || out.compare(out.size() - 2, 2, "\r\n") == 0, "line ends");
  } else {
    Check(result == QUORVEL_RESULT_FAILED, "result code");
    Check(!run.replaced, "failure saved an output");
    if (message[0] == '\0') {
      Check(buffers_written, "incomplete rows must fill the buffers");
      Check(rows > 0, "incomplete rows need rows");
    } else {
      Check(buffers_written || buffers_untouched, "buffers half written");
    }
  }
  return 0;
}
