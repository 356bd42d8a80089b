#include "support/text_reference.h"

#include <cstring>

#include "document/xml_bytes.h"
#include "text/bytes.h"
#include "text/element_scan.h"

namespace qtest {

std::string_view BeforeFirstNul(std::string_view content) {
  const void* nul = std::memchr(content.data(), '\0', content.size());
  if (nul == nullptr) return content;
  return content.substr(0,
                        static_cast<std::size_t>(static_cast<const char*>(nul) - content.data()));
}

std::size_t FindText(std::string_view pattern, std::string_view text) {
  if (pattern.empty()) return 0;
  const std::size_t at = text.find(pattern);
  return at == std::string_view::npos ? 0 : at + 1;
}

std::string EscapeAngleBrackets(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  quorvel::document::EscapeAngleBracketsTo(text,
                                           [&out](std::string_view piece) { out.append(piece); });
  return out;
}

std::string UnescapeAngleBrackets(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  quorvel::document::UnescapeAngleBracketsTo(text,
                                             [&out](std::string_view piece) { out.append(piece); });
  return out;
}

std::string_view ExtractElementText(std::string_view line, std::string_view name) {
  // (Built by appending: GCC 12 warns falsely on "<" + std::string(name).)
  std::string open_tag(1, '<');
  open_tag.append(name).append(1, '>');
  std::string close_tag("</");
  close_tag.append(name).append(1, '>');
  const std::size_t p = line.find(open_tag);
  const std::size_t q = line.find(close_tag);
  if (p == std::string_view::npos || q == std::string_view::npos) return {};
  return quorvel::ElementValueBetween(line, p, open_tag.size(), q);
}

void ExtractElementTexts(std::string_view line, std::span<const std::string_view> names,
                         std::span<std::string_view> values) {
  for (std::size_t k = 0; k < names.size(); ++k) values[k] = {};
  quorvel::ElementScanner(names).ExtractPresent(line, values);
}

}  // namespace qtest
