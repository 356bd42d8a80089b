// The input side of a conversion: a file's lines, read through a fixed window.
//
// Memory does not grow with the input. The file is read into a window of
// kInputWindow bytes that is reused as the lines are walked; only a line
// longer than the window grows it, to hold that one line, and the window
// shrinks back once the line is passed. So a gigabyte of input costs the
// window, not a gigabyte, in any host, a 32-bit one included.
//
// Lines follow the line-splitting rule (text/lines.h): CR, LF and CR LF end a
// line, and the content ends at the end of the file or at its first NUL byte,
// where reading stops (so a device that yields endless NULs ends at once).
//
// A regular file is read as many times as the conversion walks it. Its size
// is taken when it is opened and only that many bytes are ever read (bytes
// appended later are not seen); a file that then delivers fewer raises
// "Cannot open file <path>", so a conversion never runs on a silently
// truncated input, and the callers check that every walk met the same lines
// and bytes. An input that cannot be read twice (a pipe, a device) is held in
// memory whole, once.
#ifndef QUORVEL_IO_INPUT_H
#define QUORVEL_IO_INPUT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "io/background.h"
#include "platform/platform.h"

namespace quorvel {

// The size of the reused read window.
inline constexpr std::size_t kInputWindow = std::size_t{1} << 20;

// The window the conversions read through: kInputWindow. Tests and fuzz
// targets shrink it to a few bytes so that every line crosses its edge;
// nothing else changes it.
std::size_t& InputWindow();

// How a content was counted: its lines, and its bytes up to the end or its
// first NUL.
struct ContentSize {
  std::int32_t lines = 0;
  std::uint64_t bytes = 0;
  bool operator==(const ContentSize&) const = default;
};

class LineReader {
 public:
  // Opens `path` (null: the empty path). Raises "Cannot open file <path>"
  // when it cannot be opened: missing, a folder, no access, an empty path.
  // `window` is the size of the read window (at least 1).
  explicit LineReader(const char* path, std::size_t window = InputWindow());
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // The next line, without its line break, in `line`; false at the end of
  // the content. The view is valid until the next call on this reader.
  // Raises "Cannot open file <path>" on a read error or a short file, and
  // std::bad_alloc past 2^31 - 1 lines (no signed 32-bit count holds more)
  // or for a line longer than memory can hold.
  bool Next(std::string_view& line);

  // Counts the lines Next would still give, and the bytes of the rest, and
  // leaves the reader at the end. Much faster than walking the lines.
  // Raises as Next does.
  ContentSize CountRest();

  // Lines handed out and content bytes passed since the start, or since the
  // last Rewind.
  ContentSize Passed() const;

  // The bytes the content is expected to hold: the size of a regular file
  // when it was opened, or the bytes of a stream held whole.
  std::uint64_t Total() const { return held_in_memory_ ? end_ : file_size_; }

  // Bulk reading, for a consumer that walks many lines in one pass: the
  // bytes read but not yet handed out. Its last line may be cut short,
  // unless UnreadIsLast(). Valid until the next call on this reader.
  std::string_view Unread();
  // No byte of content follows Unread().
  bool UnreadIsLast() const { return at_end_; }
  // Hands out the first `bytes` of Unread(), which are `lines` whole lines
  // with their line breaks; `after_cr` says the last of them ends with a CR
  // whose LF, should it come next, belongs to it. Raises std::bad_alloc past
  // 2^31 - 1 lines.
  void Consume(std::size_t bytes, std::size_t lines, bool after_cr);
  // Reads more behind Unread() (growing the window when one line fills
  // it); false, reading nothing, once the content has ended. Raises as Next.
  bool ReadMore() { return Refill(); }

  // Starts over at the first line. Raises "Cannot open file <path>" when the
  // file cannot be moved back to its start.
  void Rewind();

  // Lets go of the file: the conversion has read all it needs, and the save
  // that follows may replace this very file (Windows would refuse while it
  // is open). Nothing may be read afterwards.
  void Close();

  // Raises "Cannot open file <path>": for a caller that finds the input is
  // no longer what it was when it was opened.
  [[noreturn]] void RaiseCannotOpen() const;

 private:
  bool Refill();
  std::ptrdiff_t ReadBehindTail();
  std::ptrdiff_t TakeReadAhead();
  void StartReadAhead();
  static void ReadAheadJob(void* reader);
  void TakeRead(std::ptrdiff_t n);
  void DropHandedOut();
  void ReadWholeStream();
  void GrowToHoldLine();
  void Resize(std::size_t capacity);
  void Discard(std::size_t bytes);
  void CountLine();

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
  bool held_in_memory_ = false;  // a stream, read whole once
  std::uint64_t file_size_ = 0;  // the size of a regular file when opened
  std::size_t window_;

  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::uint64_t buffer_offset_ = 0;  // the content position of buffer_[0]
  std::size_t begin_ = 0;            // the first byte not yet handed out
  std::size_t scanned_ = 0;          // no line break in [begin_, scanned_)
  std::size_t end_ = 0;              // the end of the bytes read
  bool at_end_ = false;              // no byte of content follows end_
  bool skip_lf_ = false;             // the last line ended with CR: an LF next belongs to it
  bool holds_start_ = true;          // buffer_[0] is the content's first byte
  std::int32_t lines_ = 0;
  std::uint64_t read_ = 0;  // bytes read from the file, those read ahead included

  // Reading ahead, for a file larger than the window: the next bytes are
  // read into `ahead_` on a second thread while the lines before them are
  // walked. They are read `ahead_at_` bytes in, so that the few bytes of an
  // unfinished line can be put before them and the buffers swapped, with no
  // copy of the bytes read. (Destroyed before the file closes and before the
  // buffer the read goes into.)
  std::unique_ptr<char[]> ahead_;
  std::size_t ahead_at_ = 0;
  std::size_t ahead_want_ = 0;
  std::ptrdiff_t ahead_got_ = 0;
  Background background_;
};

}  // namespace quorvel

#endif  // QUORVEL_IO_INPUT_H
