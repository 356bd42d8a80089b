// Properties of the text primitives, each against a literal reference:
//   0: escape then unescape gives the input back (when it held no entity),
//      and both equal the repeated first-occurrence replacement;
//   1: the one-pass element scan equals ExtractElementText, which equals the
//      search-and-copy definition;
//   2: line walking and SplitTabFields equal the line-splitting rule.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "convert/walk.h"
#include "io/input.h"
#include "support/line_list.h"
#include "support/memory_platform.h"
#include "support/text_reference.h"
#include "support/walked_lines.h"
#include "text/bytes.h"
#include "text/element_scan.h"
#include "text/lines.h"

namespace {

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "text_fuzz: %s\n", what);
    __builtin_trap();
  }
}

// Replaces every occurrence by repeatedly taking the first one, as the
// literal two-pass description does.
std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  std::size_t from_pos = 0;
  for (std::size_t at; (at = text.find(from, from_pos)) != std::string::npos;) {
    text.replace(at, from.size(), to);
    from_pos = at + to.size();
  }
  return text;
}

void EscapeProperties(std::string_view input) {
  const std::string escaped = qtest::EscapeAngleBrackets(input);
  Check(escaped == ReplaceAll(ReplaceAll(std::string(input), ">", "&gt;"), "<", "&lt;"),
        "escape equals the two passes");
  const std::string unescaped = qtest::UnescapeAngleBrackets(input);
  Check(unescaped == ReplaceAll(ReplaceAll(std::string(input), "&gt;", ">"), "&lt;", "<"),
        "unescape equals the two passes");
  if (input.find("&gt;") == std::string_view::npos &&
      input.find("&lt;") == std::string_view::npos) {
    Check(qtest::UnescapeAngleBrackets(escaped) == input, "escape then unescape");
  }
}

// ExtractElementText as written: FindText and CopyText, then the trim.
std::string_view ReferenceElement(std::string_view line, std::string_view name) {
  std::string open(1, '<');
  open.append(name).append(1, '>');
  std::string close("</");
  close.append(name).append(1, '>');
  const auto p = static_cast<std::int64_t>(qtest::FindText(open, line));
  const auto q = static_cast<std::int64_t>(qtest::FindText(close, line));
  if (p == 0 || q == 0) return {};
  const std::int64_t start = p + static_cast<std::int64_t>(open.size());
  std::string_view raw = quorvel::CopyText(line, start, q - start);
  while (!raw.empty() && static_cast<unsigned char>(raw.front()) <= 0x20) raw.remove_prefix(1);
  while (!raw.empty() && static_cast<unsigned char>(raw.back()) <= 0x20) raw.remove_suffix(1);
  return raw;
}

void ElementProperties(std::string_view line) {
  static constexpr std::array<std::string_view, 14> kNames = {
      "dm", "hm", "gf", "xf", "kr", "je", "se", "mw", "sy", "jg", "rq", "nsr", "rows", "d"};
  static const quorvel::ElementScanner scanner(kNames);
  std::array<std::string_view, kNames.size()> fast{};
  scanner.ExtractPresent(line, fast);
  std::array<std::string_view, kNames.size()> present{};
  const quorvel::ElementScanner::Found found = scanner.ExtractPresent(line, present, "</row>");
  Check(found.marker == (line.find("</row>") != std::string_view::npos), "marker");
  for (std::size_t k = 0; k < kNames.size(); ++k) {
    Check(((found.present >> k) & 1) == !fast[k].empty(), "present mask");
    Check(present[k] == fast[k], "present values");
  }
  for (std::size_t k = 0; k < kNames.size(); ++k) {
    const std::string_view plain = qtest::ExtractElementText(line, kNames[k]);
    Check(fast[k] == plain, "scan equals ExtractElementText");
    Check(plain == ReferenceElement(line, kNames[k]), "ExtractElementText equals its definition");
  }
}

// The line-splitting rule, step by step, with `breaks` ending a line (a CR
// or, for fields, a TAB counting as a CR).
std::vector<std::string> ReferenceLines(std::string_view content, bool tab_is_cr) {
  std::vector<std::string> lines;
  std::size_t i = 0;
  auto is_cr = [&](char c) { return c == '\r' || (tab_is_cr && c == '\t'); };
  while (i < content.size() && content[i] != '\0') {
    std::size_t j = i;
    while (j < content.size() && content[j] != '\0' && content[j] != '\n' && !is_cr(content[j]))
      ++j;
    lines.emplace_back(content.substr(i, j - i));
    i = j;
    if (i < content.size() && is_cr(content[i])) ++i;
    if (i < content.size() && content[i] == '\n') ++i;
  }
  return lines;
}

void LineProperties(std::string_view content) {
  const std::vector<std::string> expected = ReferenceLines(content, false);
  std::vector<std::string> walked;
  for (qtest::LineCursor c(qtest::BeforeFirstNul(content)); !c.AtEnd(); c.Advance()) {
    walked.emplace_back(c.line());
  }
  Check(walked == expected, "line walking");
  const qtest::LineList list(content);
  Check(list.Count() == static_cast<std::int32_t>(expected.size()), "line count");
  // The streaming reader, through a window of a few bytes.
  qtest::InstallMemoryPlatform(content);
  quorvel::ByteReader reader("in", 1 + content.size() % 7);
  Check(qtest::WalkedLines(reader) == expected, "streamed lines");
  reader.Rewind();
  Check(quorvel::CountContent(reader).lines == static_cast<std::int64_t>(expected.size()),
        "streamed count");
  const std::vector<std::string> fields = ReferenceLines(content, true);
  quorvel::FieldList got;
  Check(quorvel::SplitTabFields(content, got) == static_cast<std::int32_t>(fields.size()),
        "field count");
  for (std::int32_t k = 0; k < got.count() && k < quorvel::FieldList::kKept; ++k) {
    Check(got[k] == fields[static_cast<std::size_t>(k)], "field");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 4096) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0:
      EscapeProperties(input);
      break;
    case 1:
      ElementProperties(input);
      break;
    default:
      LineProperties(input);
      break;
  }
  return 0;
}
