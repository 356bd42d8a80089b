#include "document_scan.h"

#include "line_stream.h"
#include "utf8.h"

namespace quorvel::cli {
namespace {

void NoteNonAsciiDate(const RowBlock& block, NonAsciiDate* date) {
  if (date->ordinal != 0) return;
  const bool kr = block.non_ascii_kr.line != 0;
  if (!kr && block.non_ascii_rq.line == 0) return;
  *date = {block.ordinal, block.Name(), kr ? "kr" : "rq",
           kr ? block.non_ascii_kr : block.non_ascii_rq};
}

}  // namespace

PassEnd ConvertDocument(std::FILE* in, Converter* to_utf8, std::FILE* copy, NonAsciiDate* date,
                        EncodingStop* stop) {
  LineStream reader(in);
  RowTracker rows;
  std::string converted;
  std::string_view text;
  std::string_view line_break;
  while (reader.Next(&text, &line_break)) {
    converted.clear();
    std::size_t bad = 0;
    if (!to_utf8->Append(text, &converted, &bad)) {
      // The bytes before `bad` are GBK: their UTF-8 form counts the column.
      std::string before;
      std::size_t unused = 0;
      to_utf8->Append(text.substr(0, bad), &before, &unused);
      rows.Feed(text);
      *stop = {reader.number(), CountCharacters(before, before.size()) + 1,
               DescribeStop(Charset::kGbk, text, bad, "UTF-8 form"),
               rows.InBlock() ? rows.block().Name() : std::string()};
      return {PassStatus::kNotConvertible};
    }
    if (rows.Feed(converted)) NoteNonAsciiDate(rows.block(), date);
    if (!WriteLine(copy, converted, line_break)) return WriteFailed();
  }
  if (reader.failed()) return {PassStatus::kReadFailed, reader.error()};
  return {};
}

bool FindIncompleteRows(std::FILE* in, std::int64_t rows, IncompleteRows* found) {
  if (rows <= 0) return true;
  RowTracker tracker;
  std::int64_t read = 0;
  return ForEachLine(in, [&](std::string_view text, std::string_view) {
    if (!tracker.Feed(text)) return true;
    const RowBlock& block = tracker.block();
    if (!block.complete()) {
      if (found->shown.size() < kShownNotes) found->shown.push_back(block);
      ++found->count;
    }
    return ++read < rows;
  });
}

}  // namespace quorvel::cli
