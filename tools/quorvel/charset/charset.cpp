#include "charset/charset.h"

#include "charset/utf8.h"

namespace quorvel::cli {
namespace {

std::string ByteName(char byte) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  const auto value = static_cast<unsigned char>(byte);
  return {'0', 'x', kDigits[value >> 4], kDigits[value & 0xF]};
}

std::string DescribeUtf16(std::string_view rest, bool big_endian, std::string_view form) {
  const Utf16Char c = DecodeUtf16(rest, big_endian);
  if (c.size != 0) return CodePointName(c.code) + " has no " + std::string(form);
  if (rest.size() < 2) return "invalid UTF-16 (cut short)";
  const auto unit = static_cast<unsigned char>(rest[big_endian ? 0 : 1]) << 8 |
                    static_cast<unsigned char>(rest[big_endian ? 1 : 0]);
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::string name = "0x";
  for (int shift = 12; shift >= 0; shift -= 4) name += kDigits[(unit >> shift) & 0xF];
  return "invalid UTF-16 (unit " + name + ")";
}

}  // namespace

Utf16Char DecodeUtf16(std::string_view bytes, bool big_endian) {
  auto unit = [&](std::size_t at) -> char32_t {
    const auto high = static_cast<unsigned char>(bytes[at + (big_endian ? 0 : 1)]);
    const auto low = static_cast<unsigned char>(bytes[at + (big_endian ? 1 : 0)]);
    return static_cast<char32_t>(high << 8 | low);
  };
  if (bytes.size() < 2) return {};
  const char32_t first = unit(0);
  if (first < 0xD800 || first > 0xDFFF) return {first, 2};
  if (first > 0xDBFF || bytes.size() < 4) return {};
  const char32_t second = unit(2);
  if (second < 0xDC00 || second > 0xDFFF) return {};
  return {0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00), 4};
}

std::string DescribeStop(Charset from, std::string_view in, std::size_t bad,
                         std::string_view form) {
  const std::string_view rest = in.substr(bad < in.size() ? bad : in.size());
  if (IsUtf16(from)) return DescribeUtf16(rest, from == Charset::kUtf16Be, form);
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
