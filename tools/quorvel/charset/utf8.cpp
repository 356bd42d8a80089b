#include "charset/utf8.h"

namespace quorvel::cli {
namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the character whose first byte is `lead` and the smallest
// code point that length may carry (shorter forms are overlong); 0 for a
// byte that begins no character.
struct LeadInfo {
  std::size_t size;
  char32_t minimum;
};
LeadInfo InfoForLead(unsigned char lead) {
  if (lead < 0x80) return {1, 0};
  if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80};
  if (lead >= 0xE0 && lead <= 0xEF) return {3, 0x800};
  if (lead >= 0xF0 && lead <= 0xF4) return {4, 0x10000};
  return {0, 0};
}

}  // namespace

Utf8Char DecodeUtf8(std::string_view text) {
  if (text.empty()) return {};
  const auto lead = static_cast<unsigned char>(text[0]);
  const LeadInfo info = InfoForLead(lead);
  if (info.size == 0 || text.size() < info.size) return {};
  if (info.size == 1) return {lead, 1};
  char32_t code = lead & (0x7F >> info.size);
  for (std::size_t i = 1; i < info.size; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (!IsContinuation(byte)) return {};
    code = (code << 6) | (byte & 0x3F);
  }
  if (code < info.minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {};
  return {code, info.size};
}

std::size_t FindInvalidUtf8(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    if (static_cast<unsigned char>(text[at]) < 0x80) {
      ++at;
      continue;
    }
    const Utf8Char c = DecodeUtf8(text.substr(at));
    if (c.size == 0) return at;
    at += c.size;
  }
  return std::string_view::npos;
}

std::size_t CountCharacters(std::string_view text, std::size_t offset) {
  std::size_t count = 0;
  std::size_t at = 0;
  while (at < offset && at < text.size()) {
    const std::size_t size = DecodeUtf8(text.substr(at)).size;
    at += size == 0 ? 1 : size;
    ++count;
  }
  return count;
}

std::size_t OffsetOfCharacter(std::string_view text, std::size_t index) {
  std::size_t at = 0;
  for (std::size_t i = 0; i < index && at < text.size(); ++i) {
    const std::size_t size = DecodeUtf8(text.substr(at)).size;
    at += size == 0 ? 1 : size;
  }
  return at;
}

bool LooksUtf8(std::string_view text) {
  bool non_ascii = false;
  for (const char c : text) non_ascii = non_ascii || static_cast<unsigned char>(c) > 0x7F;
  return non_ascii && FindInvalidUtf8(text) == std::string_view::npos;
}

std::string CodePointName(char32_t code) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::string digits;
  for (char32_t rest = code; rest != 0 || digits.size() < 4; rest >>= 4) {
    digits.insert(digits.begin(), kDigits[rest & 0xF]);
  }
  return "U+" + digits;
}

}  // namespace quorvel::cli
