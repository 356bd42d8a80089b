#include "text/bytes.h"

#include <cstring>


namespace quorvel {

std::size_t FindText(std::string_view pattern, std::string_view text) {
  if (pattern.empty()) return 0;
  const std::size_t at = text.find(pattern);
  return at == std::string_view::npos ? 0 : at + 1;
}

std::string EscapeAngleBrackets(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  EscapeAngleBracketsTo(text, [&out](std::string_view piece) { out.append(piece); });
  return out;
}

std::string UnescapeAngleBrackets(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  UnescapeAngleBracketsTo(text, [&out](std::string_view piece) { out.append(piece); });
  return out;
}

std::string_view ExtractElementText(std::string_view line, std::string_view name) {
  // Short names (all of the document's) fit the strings' inline storage, so
  // building the tags allocates nothing.
  std::string open_tag;
  open_tag.reserve(name.size() + 2);
  open_tag.append(1, '<').append(name).append(1, '>');
  std::string close_tag;
  close_tag.reserve(name.size() + 3);
  close_tag.append("</").append(name).append(1, '>');
  const std::size_t p = line.find(open_tag);
  const std::size_t q = line.find(close_tag);
  if (p == std::string_view::npos || q == std::string_view::npos) return {};
  return ElementValueBetween(line, p, open_tag.size(), q);
}

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
