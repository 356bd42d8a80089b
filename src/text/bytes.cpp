#include "text/bytes.h"

#include <cstring>

namespace quorvel {

void CopyToCallerBuffer(std::string_view text, char* buffer) {
  const std::size_t n = text.size() < 255 ? text.size() : 255;
  if (n > 0) std::memmove(buffer, text.data(), n);
  buffer[n] = '\0';
}

}  // namespace quorvel
