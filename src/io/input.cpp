#include "io/input.h"

#include <cstring>
#include <limits>
#include <new>

#include "common/failure.h"
#include "common/sizes.h"
#include "text/scan.h"

namespace quorvel {
namespace {

constexpr auto kMaxLines = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());

// The first NUL in [from, from + size), or nullptr.
const char* FindNul(const char* from, std::size_t size) {
  return static_cast<const char*>(std::memchr(from, '\0', size));
}

}  // namespace

std::size_t& InputWindow() {
  static std::size_t window = kInputWindow;
  return window;
}

LineReader::LineReader(const char* path, std::size_t window)
    : path_(path ? path : ""), window_(window > 0 ? window : 1) {
  platform::InputInfo info;
  if (!platform::Current().open_for_read(path_, &file_.handle, &info)) {
    file_.handle = platform::kNoHandle;
    RaiseCannotOpen();
  }
  buffer_.reset(new char[window_]);
  capacity_ = window_;
  if (info.sized) {
    file_size_ = info.size;
    at_end_ = file_size_ == 0;
  } else {
    ReadWholeStream();
  }
}

LineReader::~LineReader() = default;

void LineReader::Close() { file_.Close(); }

void LineReader::RaiseCannotOpen() const { RaiseCannotOpenFile(path_); }

// A pipe or a device cannot be read twice: its content is read whole, up to
// its end or its first NUL, and the window is that content. The stream is
// closed at once.
void LineReader::ReadWholeStream() {
  for (;;) {
    if (end_ == capacity_) GrowToHoldLine();
    const std::ptrdiff_t n = platform::Current().read(file_.handle, buffer_.get() + end_, capacity_ - end_);
    if (n < 0) RaiseCannotOpen();
    if (n == 0) break;
    const auto got = static_cast<std::size_t>(n);
    if (const char* nul = FindNul(buffer_.get() + end_, got)) {
      end_ = static_cast<std::size_t>(nul - buffer_.get());
      break;
    }
    end_ += got;
  }
  at_end_ = true;
  held_in_memory_ = true;
  file_.Close();
}

// Doubles the window: the line being read fills it.
void LineReader::GrowToHoldLine() {
  const std::size_t capacity = GrownCapacity(capacity_, AddOrOutOfMemory(capacity_, std::size_t{1}));
  std::unique_ptr<char[]> bigger(new char[capacity]);
  std::memcpy(bigger.get(), buffer_.get(), end_);
  buffer_ = std::move(bigger);
  capacity_ = capacity;
}

// Makes room behind the bytes not yet handed out and reads into it: at least
// one more byte of content, or the end. Bytes handed out are dropped; a
// window grown for a long line shrinks back once that line is passed.
bool LineReader::Refill() {
  if (at_end_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    buffer_offset_ += begin_;
    end_ -= begin_;
    scanned_ = scanned_ > begin_ ? scanned_ - begin_ : 0;
    begin_ = 0;
  }
  if (end_ == capacity_) {
    GrowToHoldLine();
  } else if (capacity_ > window_ && end_ < window_) {
    std::unique_ptr<char[]> window(new char[window_]);
    std::memcpy(window.get(), buffer_.get(), end_);
    buffer_ = std::move(window);
    capacity_ = window_;
  }
  const std::uint64_t remaining = file_size_ - (buffer_offset_ + end_);
  const std::size_t room = capacity_ - end_;
  const std::size_t want = remaining < room ? static_cast<std::size_t>(remaining) : room;
  const std::ptrdiff_t n = platform::Current().read(file_.handle, buffer_.get() + end_, want);
  // A file that ends before the size it had when it was opened was cut
  // short under the conversion: its content is not what was opened.
  if (n <= 0) RaiseCannotOpen();
  const auto got = static_cast<std::size_t>(n);
  if (const char* nul = FindNul(buffer_.get() + end_, got)) {
    end_ = static_cast<std::size_t>(nul - buffer_.get());
    at_end_ = true;
  } else {
    end_ += got;
    at_end_ = buffer_offset_ + end_ == file_size_;
  }
  return true;
}

void LineReader::CountLine() {
  if (static_cast<std::uint64_t>(lines_) == kMaxLines) throw std::bad_alloc();
  ++lines_;
}

bool LineReader::Next(std::string_view& line) {
  for (;;) {
    if (skip_lf_) {
      if (begin_ < end_) {
        if (buffer_[begin_] == '\n') ++begin_;
        skip_lf_ = false;
      } else if (at_end_) {
        skip_lf_ = false;
      } else {
        Refill();
        continue;
      }
    }
    if (begin_ == end_) {
      if (!Refill()) return false;
      continue;
    }
    const char* const base = buffer_.get();
    const char* from = base + (scanned_ > begin_ ? scanned_ : begin_);
    const char* const stop = FindFirstOf(from, base + end_, '\r', '\n', '\n');
    if (stop == base + end_ && !at_end_) {
      scanned_ = end_;
      Refill();
      continue;
    }
    line = std::string_view(base + begin_, static_cast<std::size_t>(stop - (base + begin_)));
    begin_ = static_cast<std::size_t>(stop - base);
    if (begin_ < end_) {
      skip_lf_ = *stop == '\r';
      ++begin_;
    }
    scanned_ = begin_;
    CountLine();
    return true;
  }
}

ContentSize LineReader::CountRest() {
  std::uint64_t lines = static_cast<std::uint64_t>(lines_);
  bool after_cr = skip_lf_;
  bool unfinished = false;  // the last byte counted is not a line break
  for (;;) {
    if (begin_ < end_) {
      const char* const base = buffer_.get();
      lines += CountLineEnds(base + begin_, base + end_, after_cr);
      const char last = base[end_ - 1];
      after_cr = last == '\r';
      unfinished = last != '\r' && last != '\n';
      begin_ = end_;
      scanned_ = end_;
    }
    if (!Refill()) break;
  }
  if (unfinished) ++lines;
  if (lines > kMaxLines) throw std::bad_alloc();
  lines_ = static_cast<std::int32_t>(lines);
  skip_lf_ = false;
  return Passed();
}

std::string_view LineReader::Unread() {
  if (skip_lf_ && begin_ < end_) {
    if (buffer_[begin_] == '\n') ++begin_;
    skip_lf_ = false;
  }
  return {buffer_.get() + begin_, end_ - begin_};
}

void LineReader::Consume(std::size_t bytes, std::size_t lines, bool after_cr) {
  if (lines > kMaxLines - static_cast<std::uint64_t>(lines_)) throw std::bad_alloc();
  lines_ += static_cast<std::int32_t>(lines);
  // Taking nothing changes nothing: an LF still owed to a CR stays owed.
  if (bytes == 0) return;
  begin_ += bytes;
  scanned_ = begin_;
  skip_lf_ = after_cr;
}

ContentSize LineReader::Passed() const { return {lines_, buffer_offset_ + begin_}; }

void LineReader::Rewind() {
  lines_ = 0;
  skip_lf_ = false;
  begin_ = 0;
  scanned_ = 0;
  // Content held whole (a stream, or a file that fit the window) is walked
  // again from memory; otherwise the file is read again from its start.
  if (held_in_memory_ || (at_end_ && buffer_offset_ == 0)) return;
  if (!platform::Current().rewind(file_.handle)) RaiseCannotOpen();
  buffer_offset_ = 0;
  end_ = 0;
  at_end_ = file_size_ == 0;
}

}  // namespace quorvel
