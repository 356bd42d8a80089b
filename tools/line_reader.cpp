#include "line_reader.h"

#include <cstring>

namespace quorvel::cli {
namespace {

// The first CR, LF or NUL in [p, end), or end. Eight bytes at a time: a
// word holds one of them when the word XOR that byte repeated has a zero
// byte, which (v - 0x01..01) & ~v & 0x80..80 detects without fail.
const char* FindBreakOrNul(const char* p, const char* end) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kHighs = 0x8080808080808080;
  const auto zero_byte = [](std::uint64_t v) { return (v - kOnes) & ~v & kHighs; };
  for (; end - p >= 8; p += 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if ((zero_byte(word) | zero_byte(word ^ (kOnes * '\n')) | zero_byte(word ^ (kOnes * '\r'))) !=
        0) {
      break;
    }
  }
  for (; p < end; ++p) {
    if (*p == '\n' || *p == '\r' || *p == '\0') return p;
  }
  return end;
}

}  // namespace

LineReader::LineReader(std::FILE* file, std::size_t chunk)
    : file_(file), chunk_(chunk == 0 ? 1 : chunk) {}

bool LineReader::Fill() {
  if (at_end_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (buffer_.size() < end_ + chunk_) buffer_.resize(end_ + chunk_);
  const std::size_t got = std::fread(buffer_.data() + end_, 1, chunk_, file_);
  end_ += got;
  if (got == 0) {
    at_end_ = true;
    failed_ = std::ferror(file_) != 0;
  }
  return got > 0;
}

bool LineReader::Next(std::string_view* text, std::string_view* line_break) {
  while (!done_) {
    const char* const base = buffer_.data();
    const char* const stop = FindBreakOrNul(base + begin_ + scanned_, base + end_);
    scanned_ = static_cast<std::size_t>(stop - (base + begin_));
    const std::size_t at = begin_ + scanned_;
    if (at == end_) {
      if (Fill()) continue;
      done_ = true;
      if (failed_ || begin_ == end_) return false;
      // (Fill may have moved the buffer.)
      *text = std::string_view(buffer_.data() + begin_, end_ - begin_);
      *line_break = {};
      begin_ = end_;
      ++number_;
      return true;
    }
    if (*stop == '\r' && at + 1 == end_ && !at_end_) {
      Fill();  // is the CR followed by an LF?
      continue;
    }
    std::size_t break_size = 1;
    if (*stop == '\0') {
      done_ = true;
      if (scanned_ == 0) return false;
      break_size = 0;
    } else if (*stop == '\r' && at + 1 < end_ && base[at + 1] == '\n') {
      break_size = 2;
    }
    *text = std::string_view(base + begin_, scanned_);
    *line_break = std::string_view(stop, break_size);
    begin_ = at + break_size;
    scanned_ = 0;
    ++number_;
    return true;
  }
  return false;
}

}  // namespace quorvel::cli
