#include "text/bytes.h"

#include <cstring>


namespace quorvel {

void CountedCopy(std::string_view text, char* buffer) {
  const std::size_t n = text.size() < 255 ? text.size() : 255;
  buffer[0] = static_cast<char>(static_cast<unsigned char>(n));
  if (n > 0) std::memcpy(buffer + 1, text.data(), n);
}

void PackCString(char* buffer) {
  const std::size_t n = static_cast<unsigned char>(buffer[0]);
  std::memmove(buffer, buffer + 1, n);
  buffer[n] = '\0';
}

void CopyToCallerBuffer(std::string_view text, char* buffer) {
  CountedCopy(text, buffer);
  PackCString(buffer);
}

}  // namespace quorvel
