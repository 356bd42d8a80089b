// Both conversions through the exports, each input read through a window of
// 64 bytes, one of 1 to 13 bytes, and one larger than the whole input. Where
// a window's edge falls must change nothing: the result, the whole stored
// message, the host buffers and rows, and every byte saved are the same for
// the three. The input is taken as a text (laid out as txt2xml_fuzz takes
// it) and as a document, so both corpora seed this one.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "boundary/last_error.h"
#include "io/input.h"
#include "quorvel.h"
#include "support/memory_platform.h"
#include "text_call.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "window_fuzz: %s\n", what);
    __builtin_trap();
  }
}

// Everything a host or the file system could see of one call.
struct Outcome {
  int32_t result = 0;
  std::string message;  // whole: the host's buffer would cut it at 255 bytes
  int32_t rows = 0x5A5A5A5A;
  std::array<char, QUORVEL_BUFFER_SIZE> nsr;
  std::array<char, QUORVEL_BUFFER_SIZE> reserved;
  bool replaced = false;
  std::string saved;
  bool operator==(const Outcome&) const = default;
};

using qfuzz::TakeTextCall;
using qfuzz::TextCall;

Outcome Finish(Outcome outcome) {
  outcome.message = std::string(quorvel::LastError().text());
  outcome.replaced = qtest::MemoryFiles::replaced;
  outcome.saved = qtest::MemoryFiles::saved;
  return outcome;
}

Outcome TextToDocument(const TextCall& call, std::size_t window) {
  qtest::InstallMemoryPlatform(call.file);
  quorvel::InputWindow() = window;
  Outcome outcome;
  outcome.nsr.fill('\x5A');
  outcome.reserved.fill('\x5A');
  outcome.result = Quorvel_TXT2XML("in", "out", call.code, call.nsr.c_str(), call.qymc.c_str());
  return Finish(outcome);
}

Outcome DocumentToText(std::string_view document, std::size_t window) {
  qtest::InstallMemoryPlatform(document);
  quorvel::InputWindow() = window;
  Outcome outcome;
  outcome.nsr.fill('\x5A');
  outcome.reserved.fill('\x5A');
  outcome.result = Quorvel_XML2TXT("in", "out", 0, &outcome.rows, outcome.nsr.data(),
                                   outcome.reserved.data());
  return Finish(outcome);
}

// The windows to compare with a whole read: 64 bytes, and a few bytes that
// vary with the input so that every phase of a line against an edge is met.
std::array<std::size_t, 2> SmallWindows(std::size_t size) { return {64, 1 + size % 13}; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t whole = size + 1;

  const TextCall call = TakeTextCall(bytes);
  const Outcome text_whole = TextToDocument(call, whole);
  for (const std::size_t window : SmallWindows(size)) {
    Check(TextToDocument(call, window) == text_whole, "txt2xml depends on the read window");
  }

  const Outcome document_whole = DocumentToText(bytes, whole);
  for (const std::size_t window : SmallWindows(size)) {
    Check(DocumentToText(bytes, window) == document_whole, "xml2txt depends on the read window");
  }

  quorvel::InputWindow() = quorvel::kInputWindow;
  return 0;
}
