// How the text-to-document targets read their input: the arguments of one
// Quorvel_TXT2XML call and the file it converts, so that the corpora of
// txt2xml_fuzz and window_fuzz seed each other.
#ifndef QUORVEL_FUZZ_TEXT_CALL_H
#define QUORVEL_FUZZ_TEXT_CALL_H

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace qfuzz {

struct TextCall {
  int32_t code = 100;
  std::string nsr;
  std::string qymc;
  std::string_view file;
};

// Layout: 4 bytes code, nsr up to a NUL, qymc up to a NUL, the rest the file.
inline TextCall TakeTextCall(std::string_view bytes) {
  TextCall call;
  if (bytes.size() >= 4) {
    std::memcpy(&call.code, bytes.data(), 4);
    bytes.remove_prefix(4);
  }
  auto take = [&bytes] {
    const std::size_t nul = bytes.find('\0');
    std::string text(bytes.substr(0, nul));
    bytes.remove_prefix(nul == std::string_view::npos ? bytes.size() : nul + 1);
    return text;
  };
  call.nsr = take();
  call.qymc = take();
  call.file = bytes;
  return call;
}

}  // namespace qfuzz

#endif  // QUORVEL_FUZZ_TEXT_CALL_H
