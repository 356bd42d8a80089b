#include "text/lines.h"

#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "platform/platform.h"
#include "text/failure.h"
#include "text/scan.h"

namespace quorvel {
namespace {

// Past a line's last byte at `pos`: a CR is stepped over, then an LF.
std::size_t SkipLineBreak(std::string_view content, std::size_t pos) {
  if (pos < content.size() && (content[pos] == '\r' || content[pos] == '\t')) ++pos;
  if (pos < content.size() && content[pos] == '\n') ++pos;
  return pos;
}

std::size_t FindLineEnd(std::string_view content, std::size_t from) {
  const char* end = content.data() + content.size();
  return static_cast<std::size_t>(FindFirstOf(content.data() + from, end, '\r', '\n', '\n') -
                                  content.data());
}

class HandleCloser {
 public:
  explicit HandleCloser(platform::Handle handle) : handle_(handle) {}
  ~HandleCloser() { platform::Current().close(handle_); }
  HandleCloser(const HandleCloser&) = delete;
  HandleCloser& operator=(const HandleCloser&) = delete;

 private:
  platform::Handle handle_;
};

// Reads until `buffer` is full or the stream ends; the number of bytes read,
// or -1 when the read failed.
std::ptrdiff_t ReadFully(platform::Handle handle, char* buffer, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const std::ptrdiff_t n = platform::Current().read(handle, buffer + got, size - got);
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<std::ptrdiff_t>(got);
}

// A stream of unknown length (a pipe, a device): read until it ends, doubling
// the buffer.
ByteBuffer ReadStream(platform::Handle handle, const char* path) {
  ByteBuffer bytes(std::size_t{64} << 10);
  std::size_t used = 0;
  for (;;) {
    if (used == bytes.size()) {
      ByteBuffer bigger(bytes.size() * 2);
      std::memcpy(bigger.data(), bytes.data(), used);
      bytes = std::move(bigger);
    }
    const std::ptrdiff_t n = ReadFully(handle, bytes.data() + used, bytes.size() - used);
    if (n < 0) RaiseCannotOpenFile(path);
    used += static_cast<std::size_t>(n);
    if (used < bytes.size()) break;
  }
  bytes.Shrink(used);
  return bytes;
}

}  // namespace

ByteBuffer::ByteBuffer(std::size_t size) : data_(new char[size ? size : 1]), size_(size) {}

ByteBuffer ReadWholeFile(const char* path) {
  if (path == nullptr) path = "";
  platform::Handle handle;
  platform::InputInfo info;
  if (!platform::Current().open_for_read(path, &handle, &info)) RaiseCannotOpenFile(path);
  HandleCloser closer(handle);
  if (!info.sized) return ReadStream(handle, path);
  if (info.size > std::numeric_limits<std::size_t>::max() / 2) throw std::bad_alloc();
  ByteBuffer bytes(static_cast<std::size_t>(info.size));
  platform::Current().advise_large_buffer(bytes.data(), bytes.size());
  if (ReadFully(handle, bytes.data(), bytes.size()) != static_cast<std::ptrdiff_t>(bytes.size())) {
    RaiseCannotOpenFile(path);
  }
  return bytes;
}

std::string_view BeforeFirstNul(std::string_view content) {
  const void* nul = std::memchr(content.data(), '\0', content.size());
  if (nul == nullptr) return content;
  return content.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - content.data()));
}

LineCursor::LineCursor(std::string_view content)
    : content_(content), end_(FindLineEnd(content, 0)) {}

void LineCursor::Advance() {
  if (index_ == std::numeric_limits<std::int32_t>::max()) throw std::bad_alloc();
  begin_ = SkipLineBreak(content_, end_);
  end_ = FindLineEnd(content_, begin_);
  ++index_;
}

LineList::LineList(std::string_view content) {
  ByteBuffer bytes(content.size());
  if (!content.empty()) std::memcpy(bytes.data(), content.data(), content.size());
  Adopt(std::move(bytes));
}

void LineList::Load(const char* path) { Adopt(ReadWholeFile(path)); }

void LineList::Adopt(ByteBuffer bytes) {
  bytes_ = std::move(bytes);
  content_ = BeforeFirstNul(bytes_.view());
  cursor_ = LineCursor(content_);
  count_ = -1;
}

std::int32_t LineList::Count() const {
  if (count_ < 0) {
    const std::size_t count = CountLines(content_.data(), content_.data() + content_.size());
    // No list of signed 32-bit positions can hold more.
    if (count > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
      throw std::bad_alloc();
    }
    count_ = static_cast<std::int32_t>(count);
  }
  return count_;
}

LineCursor LineList::CursorAt(std::int32_t i) const {
  if (i < 0) RaiseListIndexOutOfBounds(i);
  if (cursor_.index() > i) cursor_ = LineCursor(content_);
  while (cursor_.index() < i && !cursor_.AtEnd()) cursor_.Advance();
  if (cursor_.AtEnd()) {
    count_ = cursor_.index();
    RaiseListIndexOutOfBounds(i);
  }
  return cursor_;
}

std::string_view LineList::Line(std::int32_t i) const { return CursorAt(i).line(); }

std::int32_t SplitTabFields(std::string_view line, FieldList& target) {
  // The line-splitting rule with TAB acting as CR: every TAB, CR or LF at or
  // after the current field's start ends it (SkipLineBreak steps over a TAB as
  // over a CR, and an LF right after it); the first NUL ends the text.
  const char* const base = line.data();
  std::int32_t count = 0;
  std::size_t pos = 0;
  std::size_t size = line.size();
  auto add = [&](std::size_t stop) {
    if (count < FieldList::kKept) target.kept_[static_cast<std::size_t>(count)] = line.substr(pos, stop - pos);
    if (count < std::numeric_limits<std::int32_t>::max()) ++count;
  };
  ForEachByteOf(base, base + line.size(), '\t', '\r', '\n', '\0', [&](const char* p) {
    const auto at = static_cast<std::size_t>(p - base);
    if (*p == '\0') {
      size = at;
      return false;
    }
    if (at < pos) return true;  // the LF of a break already stepped over
    add(at);
    pos = SkipLineBreak(line, at);
    return true;
  });
  if (pos < size) add(size);
  target.count_ = count;
  return count;
}

}  // namespace quorvel
