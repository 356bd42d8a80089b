// The lines of a byte stream, read a chunk at a time and split by the
// library's own line walk (text/scan.h), so that they are exactly the lines
// the library sees: a line runs up to the first CR, LF or the end; CR LF, a
// lone CR and a lone LF each end one line; a final line break adds no empty
// line; empty content has no line; the first NUL ends the content, the bytes
// before it on its line forming the last line.
//
// Memory holds one chunk and the longest line, never the whole stream, so a
// diagnostic pass costs no more than the library's own reading.
#ifndef QUORVEL_TOOLS_LINE_STREAM_H
#define QUORVEL_TOOLS_LINE_STREAM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::cli {

class LineStream {
 public:
  static constexpr std::size_t kChunk = std::size_t{1} << 20;

  // Reads `file` (opened in binary mode; not closed here) `chunk` bytes at a
  // time.
  explicit LineStream(std::FILE* file, std::size_t chunk = kChunk);

  // Moves to the next line: its bytes go to `*text` and its line break ("",
  // "\n", "\r" or "\r\n") to `*line_break`, both valid until the next call.
  // False at the end of the content, or when a read failed (see failed()).
  bool Next(std::string_view* text, std::string_view* line_break);

  // The 1-based number of the line Next gave last (0 before the first).
  std::int64_t number() const { return number_; }
  bool failed() const { return failed_; }
  // The system's error code of the failed read (see failed()).
  int error() const { return error_; }

 private:
  // The line at [begin, stop) and its break [stop, next), in buffer_.
  struct Line {
    std::size_t begin;
    std::size_t stop;
    std::size_t next;
  };

  // Reads more bytes and finds the whole lines among those not yet walked;
  // false when there are none and no more will come.
  bool Refill();

  std::FILE* file_;
  std::size_t chunk_;
  std::string buffer_;
  std::size_t walked_ = 0;  // the bytes before this are in lines_ (or were given)
  std::size_t end_ = 0;     // the end of the content read
  bool ended_ = false;      // no byte follows end_: the stream ended, or a NUL
  bool failed_ = false;
  int error_ = 0;
  std::vector<Line> lines_;
  std::size_t given_ = 0;  // lines_[0, given_) were given
  std::int64_t number_ = 0;
};

// Runs `visit(text, line_break)` for every line of `file`, in order, until
// it returns false. False when a read failed.
template <typename Visit>
bool ForEachLine(std::FILE* file, Visit&& visit) {
  LineStream reader(file);
  std::string_view text;
  std::string_view line_break;
  while (reader.Next(&text, &line_break)) {
    if (!visit(text, line_break)) break;
  }
  return !reader.failed();
}

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_LINE_STREAM_H
