#include "io/input.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/failure.h"
#include "common/sizes.h"

namespace quorvel {
namespace {

// The first NUL in [from, from + size), or nullptr. Every byte read passes
// through here, and the C library's memchr of some Windows runtimes (Wine's
// msvcrt among them) looks at one byte at a time: sixty-four bytes a step
// with SSE2, which every host of the DLL has, folded by unsigned minimums so
// that a step costs one compare; the sixteen-byte steps after it find where.
const char* FindNul(const char* from, std::size_t size) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const char* const end = from + size;
  auto load = [](const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
  for (; end - from >= 64; from += 64) {
    const __m128i low = _mm_min_epu8(load(from), load(from + 16));
    const __m128i high = _mm_min_epu8(load(from + 32), load(from + 48));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(low, high), zero)) != 0) break;
  }
  for (; end - from >= 16; from += 16) {
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(load(from), zero)));
    if (mask != 0) return from + __builtin_ctz(mask);
  }
  size = static_cast<std::size_t>(end - from);
#endif
  return static_cast<const char*>(std::memchr(from, '\0', size));
}

}  // namespace

std::size_t& InputWindow() {
  static std::size_t window = kInputWindow;
  return window;
}

ByteReader::ByteReader(const char* path, std::size_t window)
    : path_(path ? path : ""), window_(window > 0 ? window : 1) {
  platform::InputInfo info;
  if (const platform::Error error =
          platform::Current().open_for_read(path_, &file_.handle, &info)) {
    file_.handle = platform::kNoHandle;
    RaiseCannotOpen(error);
  }
  buffer_.reset(new char[window_]);
  capacity_ = window_;
  if (info.sized) {
    file_size_ = info.size;
  } else {
    ReadWholeStream();
  }
}

ByteReader::~ByteReader() = default;

void ByteReader::Close() { file_.Close(); }

void ByteReader::RaiseCannotOpen(platform::Error error) const { RaiseCannotOpenFile(path_, error); }

// A pipe or a device cannot be read twice, nor can a file that is not as
// large as the system said: the rest of its content is read whole behind
// end_, up to its end or its first NUL, and the window is that content. The
// file is closed at once.
void ByteReader::ReadWholeStream() {
  held_in_memory_ = true;
  for (;;) {
    if (end_ == capacity_) GrowToHoldLine();
    const std::ptrdiff_t n =
        platform::Current().read(file_.handle, buffer_.get() + end_, capacity_ - end_);
    if (n < 0) RaiseCannotOpen(static_cast<platform::Error>(-n));
    if (n == 0) break;
    const auto got = static_cast<std::size_t>(n);
    read_ += got;
    if (const char* nul = FindNul(buffer_.get() + end_, got)) {
      TakeNul(nul, got);
      break;
    }
    end_ += got;
  }
  at_end_ = true;
  file_.Close();
}

// Doubles the window: the bytes not yet consumed fill it.
void ByteReader::GrowToHoldLine() {
  Resize(GrownCapacity(capacity_, AddOrOutOfMemory(capacity_, std::size_t{1})));
}

// Moves the bytes read so far into a window of `capacity` bytes (at least
// end_).
void ByteReader::Resize(std::size_t capacity) {
  std::unique_ptr<char[]> resized(new char[capacity]);
  std::memcpy(resized.get(), buffer_.get(), end_);
  buffer_ = std::move(resized);
  capacity_ = capacity;
}

bool ByteReader::ReadMore() {
  if (at_end_) return false;
  const std::ptrdiff_t n = ReadBehindTail();
  if (n < 0) RaiseCannotOpen(static_cast<platform::Error>(-n));
  if (n == 0) {
    TakeEnd();
    return true;
  }
  TakeRead(static_cast<std::size_t>(n));
  // Past the size on the first walk, with the whole content still here: a
  // file made up as it is read, held whole from now on.
  if (!at_end_ && !rewound_ && read_ > file_size_ && holds_start_) ReadWholeStream();
  return true;
}

// The file has ended. One that ends short of its size on its first walk,
// its whole content in the window, is held: it need not read the same again.
void ByteReader::TakeEnd() {
  at_end_ = true;
  if (!rewound_ && read_ != file_size_ && holds_start_) {
    held_in_memory_ = true;
    file_.Close();
  }
}

// Moves the bytes not yet consumed to the front of the window.
void ByteReader::DropConsumed() {
  if (begin_ == 0) return;
  dropped_last_ = buffer_[begin_ - 1];
  std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
  buffer_offset_ += begin_;
  end_ -= begin_;
  begin_ = 0;
  holds_start_ = false;
}

// Reads into the room behind the bytes not yet consumed, here and now. The
// bytes consumed are dropped only when less than half a window of room is
// left, so a content smaller than that stays whole in the window. A window
// grown for a long line shrinks back once that line is consumed.
std::ptrdiff_t ByteReader::ReadBehindTail() {
  if (capacity_ - end_ < window_ / 2 + 1) DropConsumed();
  if (end_ == capacity_) {
    GrowToHoldLine();
  } else if (capacity_ > window_ && end_ < window_) {
    Resize(window_);
  }
  return platform::Current().read(file_.handle, buffer_.get() + end_, capacity_ - end_);
}

// Counts the `got` bytes just read into the window at end_ as content, up
// to a NUL among them.
void ByteReader::TakeRead(std::size_t got) {
  read_ += got;
  if (const char* nul = FindNul(buffer_.get() + end_, got)) {
    TakeNul(nul, got);
    at_end_ = true;
  } else {
    end_ += got;
  }
}

// Ends the content at `nul`, among the `got` bytes just read into the window
// at end_, and notes where it was.
void ByteReader::TakeNul(const char* nul, std::size_t got) {
  const auto index = static_cast<std::size_t>(nul - buffer_.get());
  const std::uint64_t read_after = got - (index - end_) - 1;
  const char before = index > 0 ? buffer_[index - 1] : dropped_last_;
  nul_.found = true;
  nul_.at = buffer_offset_ + index;
  nul_.begins_line = before == '\n' || before == '\r';
  // A regular file read no further than its size, and no shorter: its size
  // tells what follows.
  nul_.exact = !held_in_memory_ && file_size_ > nul_.at && read_ <= file_size_;
  nul_.following = nul_.exact ? file_size_ - nul_.at - 1 : read_after;
  end_ = index;
}

void ByteReader::Rewind() {
  begin_ = 0;
  rewound_ = true;
  // Content held whole (a stream, or a file that fit the window) is walked
  // again from memory; otherwise the file is read again from its start.
  if (held_in_memory_ || (at_end_ && holds_start_)) return;
  if (const platform::Error error = platform::Current().rewind(file_.handle)) {
    RaiseCannotOpen(error);
  }
  buffer_offset_ = 0;
  end_ = 0;
  read_ = 0;
  holds_start_ = true;
  at_end_ = false;
  dropped_last_ = '\n';
}

}  // namespace quorvel
