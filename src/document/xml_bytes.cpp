#include "document/xml_bytes.h"

namespace quorvel::document {

std::size_t FirstRejectedByte(std::string_view value, Written written) {
  for (std::size_t i = 0; i < value.size(); ++i) {
    const auto byte = static_cast<unsigned char>(value[i]);
    if (byte >= 0x20) {
      if (byte == '&' || (byte == '<' && written == Written::kRaw)) return i;
    } else if (byte != '\t' && byte != '\n' && byte != '\r') {
      return i;
    }
  }
  return std::string_view::npos;
}

}  // namespace quorvel::document
