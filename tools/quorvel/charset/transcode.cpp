#include "charset/transcode.h"

#include <cstring>

#include "charset/sniff.h"
#include "charset/utf8.h"

namespace quorvel::cli {
namespace {

// Where the content ends in `bytes`: at a NUL byte, or for UTF-16 a NUL unit.
std::size_t ContentEnd(std::string_view bytes, Charset from) {
  if (!IsUtf16(from)) return bytes.find('\0');
  for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) {
    if (bytes[at] == '\0' && bytes[at + 1] == '\0') return at;
  }
  return std::string_view::npos;
}

// A piece converted at once ends just after a line break (CR or LF), so
// that no character is ever cut in two; 0 when `bytes` holds none.
std::size_t AfterLastBreak(std::string_view bytes, Charset from) {
  if (!IsUtf16(from)) {
    const std::size_t last = bytes.find_last_of("\r\n");
    return last == std::string_view::npos ? 0 : last + 1;
  }
  const std::size_t low = from == Charset::kUtf16Be ? 1 : 0;
  for (std::size_t at = bytes.size() & ~std::size_t{1}; at >= 2; at -= 2) {
    const char c = bytes[at - 2 + low];
    if (bytes[at - 1 - low] == '\0' && (c == '\r' || c == '\n')) return at;
  }
  return 0;
}

// Counts the lines of `text` (ASCII line breaks: CR, LF, CR LF); returns
// the offset where its last line begins.
std::size_t CountLines(std::string_view text, std::int64_t* line, bool* after_cr) {
  std::size_t begin = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '\r' || (c == '\n' && !*after_cr)) ++*line;
    if (c == '\r' || c == '\n') begin = at + 1;
    *after_cr = c == '\r';
  }
  return begin;
}

// The place of the byte at `bad` in `piece`, whose first line is `line`.
EncodingStop StopAt(std::string_view piece, std::size_t bad, std::int64_t line, bool after_cr,
                    Charset from) {
  // The bytes before `bad` convert: their UTF-8 form counts lines and columns.
  std::string before(piece.substr(0, bad));
  if (from != Charset::kUtf8) {
    Converter to_utf8(from, Charset::kUtf8);
    std::string shown;
    std::size_t unused = 0;
    to_utf8.Append(before, &shown, &unused);
    before = std::move(shown);
  }
  const std::size_t begin = CountLines(before, &line, &after_cr);
  const std::string_view last = std::string_view(before).substr(begin);
  const std::string_view form = from == Charset::kGbk ? "UTF-8 form" : "GBK form";
  return {line, CountCharacters(last, last.size()) + 1, DescribeStop(from, piece, bad, form)};
}

}  // namespace

PassEnd Transcode(std::string_view head, std::FILE* in, Charset from, Charset to, std::FILE* out,
                  EncodingStop* stop) {
  Converter converter(from, to);
  std::string pending(head);  // read, not yet converted: the end of a line not yet whole
  if (pending.starts_with(ByteOrderMark(from))) pending.erase(0, ByteOrderMark(from).size());
  std::size_t fresh = 0;  // pending[fresh, size) is yet to be searched
  std::string converted;
  std::int64_t line = 1;
  bool after_cr = false;
  char buffer[1 << 16];
  std::string after_nul;  // from the NUL on, as read: the copy ends with CopyNulEnd
  for (bool ended = false;;) {
    const std::string_view unsearched = std::string_view(pending).substr(fresh);
    if (const std::size_t end = ContentEnd(unsearched, from); end != std::string_view::npos) {
      const std::size_t unit = IsUtf16(from) ? 2 : 1;
      after_nul.assign(1, '\0').append(pending, fresh + end + unit);
      pending.resize(fresh + end);
      ended = true;
    }
    const std::size_t after = AfterLastBreak(std::string_view(pending).substr(fresh), from);
    const std::size_t cut = ended ? pending.size() : after == 0 ? 0 : fresh + after;
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
    CountLines(converted, &line, &after_cr);
    pending.erase(0, cut);
    if (ended) return after_nul.empty() ? PassEnd{} : CopyNulEnd(after_nul, in, out);
    // A UTF-16 unit may straddle what is there and what comes.
    fresh = pending.size() & ~std::size_t{1};
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, in);
    if (got == 0 && std::ferror(in) != 0) return ReadFailed();
    ended = got == 0;
    pending.append(buffer, got);
  }
}

}  // namespace quorvel::cli
