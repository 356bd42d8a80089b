#include "support/line_list.h"

#include "common/failure.h"
#include "support/text_reference.h"
#include "text/lines.h"

namespace qtest {
namespace {

// Past a line's last byte at `pos`: a CR is stepped over, then an LF.
std::size_t SkipLineBreak(std::string_view content, std::size_t pos) {
  if (pos < content.size() && content[pos] == '\r') ++pos;
  if (pos < content.size() && content[pos] == '\n') ++pos;
  return pos;
}

std::size_t FindLineEnd(std::string_view content, std::size_t from) {
  const std::size_t end = content.find_first_of("\r\n", from);
  return end == std::string_view::npos ? content.size() : end;
}

}  // namespace

LineCursor::LineCursor(std::string_view content)
    : content_(content), end_(FindLineEnd(content, 0)) {}

void LineCursor::Advance() {
  begin_ = SkipLineBreak(content_, end_);
  end_ = FindLineEnd(content_, begin_);
  ++index_;
}

LineList::LineList(std::string_view content) : content_(BeforeFirstNul(content)) {}

std::int32_t LineList::Count() const {
  LineCursor cursor(content_);
  while (!cursor.AtEnd()) cursor.Advance();
  return cursor.index();
}

std::string_view LineList::Line(std::int32_t i) const {
  if (i < 0) quorvel::RaiseListIndexOutOfBounds(i);
  LineCursor cursor(content_);
  while (!cursor.AtEnd() && cursor.index() < i) cursor.Advance();
  if (cursor.AtEnd()) quorvel::RaiseListIndexOutOfBounds(i);
  return cursor.line();
}

}  // namespace qtest
