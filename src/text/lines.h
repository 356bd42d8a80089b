// The line-splitting rule, and the fields of one line.
//
// The line-splitting rule, shared by every reader of lines: a line runs
// up to the first CR, LF or the end; CR LF, a lone CR and a lone LF each end
// one line (LF then CR ends two, the second empty); a final line break adds no
// empty line; empty content has no line; the first NUL ends the content, the
// bytes before it on its line forming the last line. Lines are never trimmed.
//
// Fields are views into their line: no field is copied or allocated.
#ifndef QUORVEL_TEXT_LINES_H
#define QUORVEL_TEXT_LINES_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

#include "text/scan.h"

namespace quorvel {

// The TAB-separated fields of one line. A record never has more than ten
// fields, so the list keeps views of the first ten and counts the rest: a line
// of a million TABs costs no memory.
class FieldList {
 public:
  static constexpr std::int32_t kKept = 10;
  std::int32_t count() const { return count_; }
  // Field k (0-based), k < min(count(), kKept).
  std::string_view operator[](std::int32_t k) const { return kept_[static_cast<std::size_t>(k)]; }

  // For the splitters: start over, and add the next field.
  void Reset() { count_ = 0; }
  void Push(std::string_view field) {
    if (count_ < kKept) kept_[static_cast<std::size_t>(count_)] = field;
    if (count_ < std::numeric_limits<std::int32_t>::max()) ++count_;
  }

 private:
  std::array<std::string_view, kKept> kept_{};
  std::int32_t count_ = 0;
};

// Splits `line` into `target` (its previous fields discarded) and returns the
// number of fields. Every TAB acts as a CR of the line-splitting rule. For a
// loaded line (no CR, LF or NUL): the pieces between TABs, empty ones
// included; one TAB at the very end adds no field; an empty line has none.
std::int32_t SplitTabFields(std::string_view line, FieldList& target);

// Walks the whole lines at the front of `chunk` (which holds no NUL) by the
// line-splitting rule, splitting each into `fields` as SplitTabFields does,
// and calls visit(fields, line) for each in order, `line` without its line
// break, until visit returns false or no whole line is left. A line is whole
// when its line break is in the chunk, or at the chunk's end when `last` says
// no byte follows it. One pass over the chunk finds the line breaks and the
// TABs together.
template <typename Visit>
ChunkTaken ScanRecords(std::string_view chunk, bool last, FieldList& fields, Visit&& visit) {
  const char* const base = chunk.data();
  std::size_t field = 0;  // where the current field begins
  std::size_t line = 0;   // where the current line begins
  fields.Reset();
  const ChunkTaken taken = WalkLines(
      chunk, last, '\t',
      [&](std::size_t tab) {
        fields.Push(std::string_view(base + field, tab - field));
        field = tab + 1;
      },
      [&](std::size_t stop, std::size_t next) {
        // One TAB at the very end adds no field; an empty line has none.
        if (field < stop) fields.Push(std::string_view(base + field, stop - field));
        field = next;
        const bool go_on = visit(static_cast<const FieldList&>(fields),
                                 std::string_view(base + line, stop - line));
        line = next;
        fields.Reset();
        return go_on;
      });
  fields.Reset();
  return taken;
}

}  // namespace quorvel

#endif  // QUORVEL_TEXT_LINES_H
