#include "text_scan.h"

#include "line_stream.h"
#include "text/lines.h"
#include "utf8.h"

namespace quorvel::cli {
namespace {

bool HasNonAscii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) > 0x7F) return true;
  }
  return false;
}

void CountFields(std::string_view text, std::int64_t line, FieldList& fields,
                 TextFindings* findings) {
  const std::int32_t count = SplitTabFields(text, fields);
  if (count == 10) {
    ++findings->full_rows;
  } else if (count == 8) {
    ++findings->short_rows;
  } else {
    if (findings->odd.size() < kShownNotes) findings->odd.push_back({line, count});
    ++findings->odd_count;
  }
}

}  // namespace

bool WriteLine(std::FILE* copy, std::string_view text, std::string_view line_break) {
  for (const std::string_view piece : {text, line_break}) {
    // (An empty view may have no data pointer, which fwrite must not get.)
    if (!piece.empty() && std::fwrite(piece.data(), 1, piece.size(), copy) != piece.size()) {
      return false;
    }
  }
  return true;
}

PassEnd ScanText(std::FILE* in, Converter* to_gbk, std::FILE* copy, TextFindings* findings,
                 EncodingStop* stop) {
  LineStream reader(in);
  FieldList fields;
  std::string converted;
  std::string_view text;
  std::string_view line_break;
  while (reader.Next(&text, &line_break)) {
    const std::int64_t line = reader.number();
    if (to_gbk != nullptr && line == 1 && text.starts_with(kUtf8Bom)) {
      // Dropped before anything is counted: the library never sees it. A
      // mark with nothing after it leaves no line at all.
      text.remove_prefix(kUtf8Bom.size());
      if (text.empty() && line_break.empty()) break;
    }
    findings->lines = line;
    CountFields(text, line, fields, findings);
    if (!findings->non_ascii) findings->non_ascii = HasNonAscii(text);
    if (findings->valid_utf8)
      findings->valid_utf8 = FindInvalidUtf8(text) == std::string_view::npos;
    if (to_gbk != nullptr) {
      converted.clear();
      std::size_t bad = 0;
      if (!to_gbk->Append(text, &converted, &bad)) {
        *stop = {line,
                 CountCharacters(text, bad) + 1,
                 DescribeStop(Charset::kUtf8, text, bad, "GBK form"),
                 {}};
        return {PassStatus::kNotConvertible};
      }
      text = converted;
    }
    if (copy != nullptr && !WriteLine(copy, text, line_break)) return WriteFailed();
  }
  if (reader.failed()) return {PassStatus::kReadFailed, reader.error()};
  return {};
}

}  // namespace quorvel::cli
