// The input side of a conversion: a file's bytes, read through a window.
//
// Memory does not grow with the input. The file is read into a window of
// kInputWindow bytes that is reused as its bytes are consumed; only when the
// caller consumes nothing of a full window (one line longer than the window)
// does it grow, and it shrinks back once those bytes are consumed. So a
// gigabyte of input costs the window, not a gigabyte, in any host, a 32-bit
// one included. The reader knows nothing of what the bytes mean: the content
// simply ends at the end of the file or at its first NUL byte, where reading
// stops (so a device that yields endless NULs ends at once).
//
// A regular file is read as many times as the conversion walks it, each time
// to its end: the size the system gives when it is opened is a hint (it
// tells the progress), not the content's length. A file that reads past
// that size or stops short of it on its first walk (files the system makes
// up as they are read, such as those of /proc and /sys, give 0 or a page)
// while its whole content is still in the window is held in memory whole
// from then on, as a pipe or a device is from the start: such a file need
// not read the same twice. A larger one is read from the file again, and the
// conversions check that every walk met the same content.
//
// The reads are made on the caller's thread, into the window it then walks.
// The system already reads a file read front to back ahead of its reader;
// reading into a second buffer on a thread of our own only moved the copy
// out of the system's cache to another processor, and every byte then had
// to cross from that processor's cache to the caller's: measured, a third
// more processor time and no shorter a conversion.
#ifndef QUORVEL_IO_INPUT_H
#define QUORVEL_IO_INPUT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/platform.h"

namespace quorvel {

// The size of the reused read window: 1 MiB. A fuzzing build makes it a few
// bytes (QUORVEL_INPUT_WINDOW), so that the short inputs a fuzzer makes cross
// its edges as long lines cross a megabyte's, and no run pays for a megabyte.
#ifdef QUORVEL_INPUT_WINDOW
inline constexpr std::size_t kInputWindow = QUORVEL_INPUT_WINDOW;
static_assert(kInputWindow > 0);
#else
inline constexpr std::size_t kInputWindow = std::size_t{1} << 20;
#endif

// The window the conversions read through: kInputWindow. Tests and fuzz
// targets shrink it to a few bytes so that every line crosses its edge;
// nothing else changes it.
std::size_t& InputWindow();

class ByteReader {
 public:
  // Opens `path` (null: the empty path). Raises "Cannot open file <path>"
  // when it cannot be opened: missing, a folder, no access, an empty path.
  // `window` is the size of the read window (at least 1).
  explicit ByteReader(const char* path, std::size_t window = InputWindow());
  ~ByteReader();
  ByteReader(const ByteReader&) = delete;
  ByteReader& operator=(const ByteReader&) = delete;

  // The bytes read and not yet consumed; valid until the next call that is
  // not const.
  std::string_view Unread() const { return {buffer_.get() + begin_, end_ - begin_}; }
  // No byte of content follows Unread().
  bool AtEnd() const { return at_end_; }
  // Consumes the first `bytes` of Unread().
  void Consume(std::size_t bytes) { begin_ += bytes; }
  // Reads more behind Unread(), growing the window when Unread() fills it,
  // or finds that the content has ended. False, doing nothing, once AtEnd().
  // Raises "Cannot open file <path>" when a read fails.
  bool ReadMore();

  // The content bytes consumed since the start, or since the last Rewind.
  std::uint64_t Consumed() const { return buffer_offset_ + begin_; }
  // The bytes the content is expected to hold (for progress): the size the
  // system gave for a regular file, or the bytes of a content held whole.
  std::uint64_t Total() const { return held_in_memory_ ? end_ : file_size_; }

  // Where the content ended at a NUL byte (found false when it did not, or
  // not yet): its position in the content; the bytes after it the reader
  // knows of, exactly for a regular file whose size is the one it was opened
  // with, else those read with the NUL (a stream is read no further); and
  // whether a line break or nothing comes before it (it begins a line).
  struct Nul {
    bool found = false;
    std::uint64_t at = 0;
    std::uint64_t following = 0;
    bool exact = false;
    bool begins_line = false;
  };
  const Nul& nul() const { return nul_; }

  // Starts over at the first byte. Raises "Cannot open file <path>" when
  // the file cannot be moved back to its start.
  void Rewind();

  // Lets go of the file: the conversion has read all it needs, and the save
  // that follows may replace this very file (Windows would refuse while it
  // is open). Nothing may be read afterwards.
  void Close();

  // Raises "Cannot open file <path>": for a caller that finds the input is
  // no longer what it was when it was opened.
  [[noreturn]] void RaiseCannotOpen(platform::Error error = 0) const;

 private:
  std::ptrdiff_t ReadBehindTail();
  void TakeRead(std::size_t got);
  void TakeEnd();
  void TakeNul(const char* nul, std::size_t got_from);
  void DropConsumed();
  void ReadWholeStream();
  void HoldTheRest();
  void GrowToHoldLine();
  void Resize(std::size_t capacity);

  // The open file, closed when the reader goes, a constructor that raises
  // included.
  struct OpenFile {
    platform::Handle handle = platform::kNoHandle;
    OpenFile() = default;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile() { Close(); }
    void Close() {
      if (handle != platform::kNoHandle) platform::Current().close(handle);
      handle = platform::kNoHandle;
    }
  };

  const char* path_;
  OpenFile file_;
  bool held_in_memory_ = false;  // a stream, or a file not as sized: read whole once
  bool rewound_ = false;         // this is not the first walk
  std::uint64_t file_size_ = 0;  // the size of a regular file when opened
  std::size_t window_;

  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::uint64_t buffer_offset_ = 0;  // the content position of buffer_[0]
  std::size_t begin_ = 0;            // the first byte not yet consumed
  std::size_t end_ = 0;              // the end of the bytes read
  bool at_end_ = false;              // no byte of content follows end_
  bool holds_start_ = true;          // buffer_[0] is the content's first byte
  std::uint64_t read_ = 0;           // bytes read from the file since it was opened or rewound
  char dropped_last_ = '\n';         // the last byte dropped from the front of the window
  Nul nul_;
};

}  // namespace quorvel

#endif  // QUORVEL_IO_INPUT_H
