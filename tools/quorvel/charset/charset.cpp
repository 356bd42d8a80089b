#include "charset/charset.h"

#include "charset/utf8.h"

namespace quorvel::cli {
namespace {

std::string ByteName(char byte) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  const auto value = static_cast<unsigned char>(byte);
  return {'0', 'x', kDigits[value >> 4], kDigits[value & 0xF]};
}

}  // namespace

std::string DescribeStop(Charset from, std::string_view in, std::size_t bad,
                         std::string_view form) {
  const std::string_view rest = in.substr(bad < in.size() ? bad : in.size());
  if (from == Charset::kGbk) {
    // A lead byte and what follows it, or a byte that begins no character.
    const auto lead = static_cast<unsigned char>(rest.empty() ? 0 : rest[0]);
    if (lead >= 0x81 && lead <= 0xFE && rest.size() >= 2) {
      return "bytes " + ByteName(rest[0]) + " " + ByteName(rest[1]) + " are not GBK";
    }
    return "byte " + (rest.empty() ? std::string("(none)") : ByteName(rest[0])) + " is not GBK";
  }
  const Utf8Char c = DecodeUtf8(rest);
  if (c.size != 0) return CodePointName(c.code) + " has no " + std::string(form);
  if (rest.empty()) return "invalid UTF-8 (cut short)";
  return "invalid UTF-8 (byte " + ByteName(rest[0]) + ")";
}

}  // namespace quorvel::cli
