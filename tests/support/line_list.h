// Plain references for the line-splitting rule, held against the library's
// streaming reader and used by tests and fuzz targets to say what a content's
// lines are: a cursor over a content in memory, and a list with count and
// line i whose failure is the library's "List index out of bounds (i)".
#ifndef QUORVEL_TESTS_SUPPORT_LINE_LIST_H
#define QUORVEL_TESTS_SUPPORT_LINE_LIST_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qtest {

// Walks the lines of a content (which holds no NUL) in place. A cursor is a
// small value: copying it keeps a position to come back to.
class LineCursor {
 public:
  LineCursor() = default;
  explicit LineCursor(std::string_view content);

  bool AtEnd() const { return begin_ >= content_.size(); }
  // The 0-based number of the current line (the number of lines when AtEnd).
  std::int32_t index() const { return index_; }
  // The current line, without its line break; only when !AtEnd().
  std::string_view line() const { return content_.substr(begin_, end_ - begin_); }
  void Advance();

 private:
  std::string_view content_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::int32_t index_ = 0;
};

// A content held as a list of lines, as if loaded from a file of it (the
// first NUL ends it).
class LineList {
 public:
  LineList() = default;
  explicit LineList(std::string_view content);

  std::int32_t Count() const;
  // Line i, 0 <= i < Count(); any other i raises quorvel::Failure with
  // "List index out of bounds (i)".
  std::string_view Line(std::int32_t i) const;

 private:
  std::string content_;
};

}  // namespace qtest

#endif  // QUORVEL_TESTS_SUPPORT_LINE_LIST_H
