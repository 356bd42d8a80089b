#include "charset/sniff.h"

#include <string>

#include "charset/utf8.h"

namespace quorvel::cli {

Head LookAtHead(std::string_view bytes, bool cut) {
  bytes = bytes.substr(0, bytes.find('\0'));
  Head head;
  std::string_view rest = bytes;
  if (rest.starts_with(kUtf8Bom)) rest.remove_prefix(kUtf8Bom.size());
  while (!rest.empty() && static_cast<unsigned char>(rest[0]) <= 0x20) rest.remove_prefix(1);
  head.document = rest.starts_with('<');
  // A head cut inside a character is still UTF-8 up to that character.
  const std::size_t bad = FindInvalidUtf8(bytes);
  const bool cut_character = cut && bad != std::string_view::npos && bytes.size() - bad < 4 &&
                             DecodeUtf8(bytes.substr(bad)).size == 0;
  head.looks_utf8 = LooksUtf8(cut_character ? bytes.substr(0, bad) : bytes);
  return head;
}

Head ReadHead(std::FILE* file) {
  std::string bytes(kHeadBytes, '\0');
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
  return LookAtHead(bytes, bytes.size() == kHeadBytes);
}

}  // namespace quorvel::cli
