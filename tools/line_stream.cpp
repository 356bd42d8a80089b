#include "line_stream.h"

#include <cerrno>
#include <cstring>

#include "text/scan.h"

namespace quorvel::cli {

LineStream::LineStream(std::FILE* file, std::size_t chunk)
    : file_(file), chunk_(chunk == 0 ? 1 : chunk) {}

bool LineStream::Refill() {
  // The bytes of a line that is not whole yet move to the front.
  buffer_.erase(0, walked_);
  end_ -= walked_;
  walked_ = 0;
  lines_.clear();
  given_ = 0;
  while (lines_.empty()) {
    if (ended_) return false;
    buffer_.resize(end_ + chunk_);
    const std::size_t got = std::fread(buffer_.data() + end_, 1, chunk_, file_);
    const void* nul = std::memchr(buffer_.data() + end_, '\0', got);
    if (nul != nullptr) {
      end_ = static_cast<std::size_t>(static_cast<const char*>(nul) - buffer_.data());
      ended_ = true;
    } else {
      end_ += got;
      ended_ = got == 0;
      failed_ = ended_ && std::ferror(file_) != 0;
      if (failed_) error_ = errno;
    }
    const std::string_view unwalked(buffer_.data() + walked_, end_ - walked_);
    std::size_t begin = 0;
    const ChunkTaken taken = WalkLines(
        unwalked, ended_, '\t', [](std::size_t) {},
        [&](std::size_t stop, std::size_t next) {
          lines_.push_back({walked_ + begin, walked_ + stop, walked_ + next});
          begin = next;
          return true;
        });
    walked_ += taken.bytes;
    if (taken.after_cr && !ended_) {
      // Its LF may be the next byte read: the line waits for it, so that
      // its break comes whole.
      walked_ = lines_.back().begin;
      lines_.pop_back();
    }
  }
  return true;
}

bool LineStream::Next(std::string_view* text, std::string_view* line_break) {
  if (given_ == lines_.size() && !Refill()) return false;
  const Line& line = lines_[given_++];
  *text = std::string_view(buffer_.data() + line.begin, line.stop - line.begin);
  *line_break = std::string_view(buffer_.data() + line.stop, line.next - line.stop);
  ++number_;
  return true;
}

}  // namespace quorvel::cli
