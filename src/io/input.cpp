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
  if (platform::Current().open_for_read(path_, &file_.handle, &info) != 0) {
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

void LineReader::Close() {
  background_.Wait();
  file_.Close();
}

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
  Resize(GrownCapacity(capacity_, AddOrOutOfMemory(capacity_, std::size_t{1})));
}

// Moves the bytes read so far into a window of `capacity` bytes (at least
// end_).
void LineReader::Resize(std::size_t capacity) {
  std::unique_ptr<char[]> resized(new char[capacity]);
  std::memcpy(resized.get(), buffer_.get(), end_);
  buffer_ = std::move(resized);
  capacity_ = capacity;
}

// Reads at least one more byte of content behind the bytes not yet handed
// out, or finds the end. Bytes handed out are dropped.
bool LineReader::Refill() {
  if (at_end_) return false;
  const std::ptrdiff_t n = background_.busy() ? TakeReadAhead() : ReadBehindTail();
  // A file that ends before the size it had when it was opened was cut
  // short under the conversion: its content is not what was opened.
  if (n <= 0) RaiseCannotOpen();
  TakeRead(n);
  StartReadAhead();
  return true;
}

// Moves the bytes not yet handed out to the front of the window, so that
// `end_` - `begin_` bytes stand before end_.
void LineReader::DropHandedOut() {
  if (begin_ == 0) return;
  std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
  buffer_offset_ += begin_;
  end_ -= begin_;
  scanned_ = scanned_ > begin_ ? scanned_ - begin_ : 0;
  begin_ = 0;
  holds_start_ = false;
}

// Reads into the room behind the bytes not yet handed out, here and now. A
// window grown for a long line shrinks back once that line is passed.
std::ptrdiff_t LineReader::ReadBehindTail() {
  DropHandedOut();
  if (end_ == capacity_) {
    GrowToHoldLine();
  } else if (capacity_ > window_ && end_ < window_) {
    Resize(window_);
  }
  const std::uint64_t remaining = file_size_ - read_;
  const std::size_t room = capacity_ - end_;
  const std::size_t want = remaining < room ? static_cast<std::size_t>(remaining) : room;
  return platform::Current().read(file_.handle, buffer_.get() + end_, want);
}

// The bytes read ahead, once read, joined to the bytes not yet handed out:
// these are put in front of them and the two buffers change places; or,
// where they do not fit there (a long line), the bytes read ahead are copied
// behind them.
std::ptrdiff_t LineReader::TakeReadAhead() {
  background_.Wait();
  const std::ptrdiff_t n = ahead_got_;
  if (n <= 0) return n;
  const auto got = static_cast<std::size_t>(n);
  const std::size_t tail = end_ - begin_;
  if (tail <= ahead_at_ && capacity_ == window_ && buffer_offset_ + begin_ >= ahead_at_ - tail) {
    char* const front = ahead_.get() + (ahead_at_ - tail);
    if (tail > 0) std::memcpy(front, buffer_.get() + begin_, tail);
    buffer_offset_ = buffer_offset_ + begin_ - (ahead_at_ - tail);
    scanned_ = scanned_ > begin_ ? scanned_ - begin_ + (ahead_at_ - tail) : ahead_at_ - tail;
    begin_ = ahead_at_ - tail;
    end_ = ahead_at_;
    std::swap(buffer_, ahead_);
    holds_start_ = false;
  } else {
    DropHandedOut();
    // The window grows (doubling) to hold a long line and shrinks back to
    // its size once the line is passed.
    const std::size_t needed = AddOrOutOfMemory(end_, got);
    if (needed > capacity_ || (capacity_ > window_ && needed <= window_)) {
      Resize(needed > window_ ? GrownCapacity(capacity_, needed) : window_);
    }
    std::memcpy(buffer_.get() + end_, ahead_.get() + ahead_at_, got);
  }
  return n;
}

// Counts the `n` bytes just read into the window at end_ as content, up to a
// NUL among them.
void LineReader::TakeRead(std::ptrdiff_t n) {
  const auto got = static_cast<std::size_t>(n);
  read_ += got;
  if (const char* nul = FindNul(buffer_.get() + end_, got)) {
    end_ = static_cast<std::size_t>(nul - buffer_.get());
    at_end_ = true;
  } else {
    end_ += got;
    at_end_ = read_ == file_size_;
  }
}

// Starts reading the next bytes of a file larger than the window.
void LineReader::StartReadAhead() {
  if (at_end_ || file_size_ <= window_) return;
  const std::uint64_t remaining = file_size_ - read_;
  if (!ahead_) {
    ahead_.reset(new char[window_]);
    // Room for an unfinished line of up to a sixteenth of the window.
    ahead_at_ = window_ / 16;
  }
  const std::size_t room = window_ - ahead_at_;
  ahead_want_ = remaining < room ? static_cast<std::size_t>(remaining) : room;
  background_.Start(&ReadAheadJob, this);
}

// The read ahead, on the second thread: it touches only the file and the
// members Take reads after it.
void LineReader::ReadAheadJob(void* reader) {
  auto* self = static_cast<LineReader*>(reader);
  self->ahead_got_ =
      platform::Current().read(self->file_.handle, self->ahead_.get() + self->ahead_at_, self->ahead_want_);
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
  background_.Wait();
  lines_ = 0;
  skip_lf_ = false;
  begin_ = 0;
  scanned_ = 0;
  // Content held whole (a stream, or a file that fit the window) is walked
  // again from memory; otherwise the file is read again from its start.
  if (held_in_memory_ || (at_end_ && holds_start_)) return;
  if (platform::Current().rewind(file_.handle) != 0) RaiseCannotOpen();
  buffer_offset_ = 0;
  end_ = 0;
  read_ = 0;
  holds_start_ = true;
  at_end_ = file_size_ == 0;
}

}  // namespace quorvel
