// Line files held in memory, and the fields of one line.
//
// The line-splitting rule, shared by every reader of lines here: a line runs
// up to the first CR, LF or the end; CR LF, a lone CR and a lone LF each end
// one line (LF then CR ends two, the second empty); a final line break adds no
// empty line; empty content has no line; the first NUL ends the content, the
// bytes before it on its line forming the last line. Lines are never trimmed.
//
// A loaded file is one buffer and its lines are views into it: no line is
// copied or separately allocated, so holding a file costs its size.
#ifndef QUORVEL_TEXT_LINES_H
#define QUORVEL_TEXT_LINES_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace quorvel {

// Bytes owned by one conversion call, such as a whole input file.
class ByteBuffer {
 public:
  ByteBuffer() = default;
  // Uninitialised storage for `size` bytes; raises std::bad_alloc when the
  // memory cannot be had.
  explicit ByteBuffer(std::size_t size);
  char* data() { return data_.get(); }
  const char* data() const { return data_.get(); }
  std::size_t size() const { return size_; }
  std::string_view view() const { return {data_.get(), size_}; }
  // Keeps the first `size` bytes (no more than the buffer has).
  void Shrink(std::size_t size) { size_ = size; }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
};

// The whole content of a file, read by the platform layer in as few reads as
// it allows. Raises "Cannot open file <path>" when the file cannot be opened
// (missing, a folder, no access, an empty or null path) or when it delivers
// fewer bytes than it had when it was opened: a conversion never runs on a
// silently truncated input. A file too large to hold raises std::bad_alloc.
ByteBuffer ReadWholeFile(const char* path);

// `content` up to its first NUL byte, which ends every text.
std::string_view BeforeFirstNul(std::string_view content);

// Walks the lines of a content in place, by the line-splitting rule. The
// content must hold no NUL (see BeforeFirstNul). A cursor is a small value:
// copying it keeps a position to come back to.
class LineCursor {
 public:
  LineCursor() = default;
  explicit LineCursor(std::string_view content);

  bool AtEnd() const { return begin_ >= content_.size(); }
  // The 0-based number of the current line (the number of lines when AtEnd).
  std::int32_t index() const { return index_; }
  // The current line, without its line break; only when !AtEnd().
  std::string_view line() const { return content_.substr(begin_, end_ - begin_); }
  // Moves to the next line. Raises std::bad_alloc past 2^31 - 1 lines, which
  // no list of signed 32-bit positions can hold.
  void Advance();

 private:
  std::string_view content_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::int32_t index_ = 0;
};

// A loaded line file: count and line i over one buffer. Lines read in order
// cost O(1) each (the list keeps its place); going back restarts from line 0.
class LineList {
 public:
  LineList() = default;
  // A list holding a copy of `content`, as if loaded from a file of it.
  explicit LineList(std::string_view content);

  // Replaces the lines by those of the file at `path`. On failure ("Cannot
  // open file <path>") the list is left as it was.
  void Load(const char* path);

  // The number of lines; counted once, on first use.
  std::int32_t Count() const;
  // Line i, 0 <= i < Count(). Any other i raises "List index out of bounds
  // (i)". The view lives as long as the list's content.
  std::string_view Line(std::int32_t i) const;
  // A cursor standing on line i, under the same rule as Line(i).
  LineCursor CursorAt(std::int32_t i) const;

 private:
  void Adopt(ByteBuffer bytes);

  ByteBuffer bytes_;
  std::string_view content_;
  mutable LineCursor cursor_;
  mutable std::int32_t count_ = -1;
};

// The TAB-separated fields of one line. A record never has more than ten
// fields, so the list keeps views of the first ten and counts the rest: a line
// of a million TABs costs no memory.
class FieldList {
 public:
  static constexpr std::int32_t kKept = 10;
  std::int32_t count() const { return count_; }
  // Field k (0-based), k < min(count(), kKept).
  std::string_view operator[](std::int32_t k) const { return kept_[static_cast<std::size_t>(k)]; }

 private:
  friend std::int32_t SplitTabFields(std::string_view line, FieldList& target);
  std::array<std::string_view, kKept> kept_{};
  std::int32_t count_ = 0;
};

// Splits `line` into `target` (its previous fields discarded) and returns the
// number of fields. Every TAB acts as a CR of the line-splitting rule. For a
// loaded line (no CR, LF or NUL): the pieces between TABs, empty ones
// included; one TAB at the very end adds no field; an empty line has none.
std::int32_t SplitTabFields(std::string_view line, FieldList& target);

}  // namespace quorvel

#endif  // QUORVEL_TEXT_LINES_H
