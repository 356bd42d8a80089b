#include "charset/transcode.h"

#include <cstring>

#include "charset/utf8.h"

namespace quorvel::cli {
namespace {

// Line breaks are CR, LF and CR LF: a piece of content converted at once
// ends just after one, so that no character is ever cut in two.
std::size_t AfterLastBreak(std::string_view bytes) {
  const std::size_t last = bytes.find_last_of("\r\n");
  return last == std::string_view::npos ? 0 : last + 1;
}

// The place of the byte at `bad` in `piece`, whose first line is line
// `*line` (a piece begins a line, or is the LF of a CR LF before it).
EncodingStop StopAt(std::string_view piece, std::size_t bad, std::int64_t line, bool after_cr,
                    Charset from) {
  std::size_t begin = 0;
  for (std::size_t at = 0; at < bad; ++at) {
    const char c = piece[at];
    if (c == '\r' || (c == '\n' && !after_cr)) ++line;
    if (c == '\r' || c == '\n') begin = at + 1;
    after_cr = c == '\r';
  }
  const std::string_view before = piece.substr(begin, bad - begin);
  std::size_t column = 0;
  if (from == Charset::kUtf8) {
    column = CountCharacters(before, before.size());
  } else {
    // The bytes before `bad` convert: their UTF-8 form counts the column.
    Converter to_utf8(from, Charset::kUtf8);
    std::string shown;
    std::size_t unused = 0;
    to_utf8.Append(before, &shown, &unused);
    column = CountCharacters(shown, shown.size());
  }
  const std::string_view form = from == Charset::kUtf8 ? "GBK form" : "UTF-8 form";
  return {line, column + 1, DescribeStop(from, piece, bad, form)};
}

// Counts the line breaks of a piece converted whole.
void CountLines(std::string_view piece, std::int64_t* line, bool* after_cr) {
  for (const char c : piece) {
    if (c == '\r' || (c == '\n' && !*after_cr)) ++*line;
    *after_cr = c == '\r';
  }
}

}  // namespace

PassEnd Transcode(std::FILE* in, Charset from, Charset to, std::FILE* out, EncodingStop* stop) {
  Converter converter(from, to);
  std::string pending;  // read, not yet converted: the end of a line not yet whole
  std::string converted;
  std::int64_t line = 1;
  bool after_cr = false;
  bool start = true;  // the content's start is still to be looked at
  char buffer[1 << 16];
  for (bool ended = false; !ended;) {
    std::size_t got = std::fread(buffer, 1, sizeof buffer, in);
    if (got == 0 && std::ferror(in) != 0) return ReadFailed();
    const void* nul = std::memchr(buffer, '\0', got);
    if (nul != nullptr) got = static_cast<std::size_t>(static_cast<const char*>(nul) - buffer);
    ended = got == 0 || nul != nullptr;
    pending.append(buffer, got);
    if (start && (pending.size() >= kUtf8Bom.size() || ended)) {
      if (from == Charset::kUtf8 && pending.starts_with(kUtf8Bom)) pending.erase(0, 3);
      start = false;
    }
    const std::size_t cut = start ? 0 : ended ? pending.size() : AfterLastBreak(pending);
    const std::string_view piece(pending.data(), cut);
    converted.clear();
    std::size_t bad = 0;
    if (!converter.Append(piece, &converted, &bad)) {
      *stop = StopAt(piece, bad, line, after_cr, from);
      return {PassStatus::kNotConvertible};
    }
    if (!converted.empty() &&
        std::fwrite(converted.data(), 1, converted.size(), out) != converted.size()) {
      return WriteFailed();
    }
    CountLines(piece, &line, &after_cr);
    pending.erase(0, cut);
  }
  return {};
}

}  // namespace quorvel::cli
