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

// The line-splitting rule across the pieces of one content, fed a piece at a
// time (a reader's window): what passes from one piece to the next is kept
// here, so no caller carries it. A walk over a piece (WalkLines and the scans
// built on it, CountWholeLines) takes the whole lines at its front; the state
// then knows how many lines were taken, whether the last one ended with a CR
// whose LF may still come first in the next piece, and how much of the
// unfinished line that follows was already searched for its end.
class LineState {
 public:
  // The bytes at the front of `unread` (what follows the last line taken)
  // to pass over before the next line: 1 for the LF of a CR LF pair split
  // between two pieces, else 0. Nothing is owed once a byte follows the CR.
  std::size_t OwedBytes(std::string_view unread) {
    if (!after_cr_ || unread.empty()) return 0;
    after_cr_ = false;
    return unread[0] == '\n' ? 1 : 0;
  }

  // Whether `chunk` (from the start of the next line on) holds a whole line:
  // a line break, or the rest of the content when `last`. The bytes searched
  // by an earlier call for the same line are not searched again, so a line
  // that takes many pieces to arrive costs one search in all.
  bool HoldsWholeLine(std::string_view chunk, bool last) {
    if (last) return true;
    const char* const end = chunk.data() + chunk.size();
    const char* const from = chunk.data() + (searched_ < chunk.size() ? searched_ : chunk.size());
    if (FindFirstOf(from, end, '\r', '\n', '\n') != end) return true;
    searched_ = chunk.size();
    return false;
  }

  // Takes what a walk over the chunk took.
  void Took(const ChunkTaken& taken) {
    lines_ += static_cast<std::int64_t>(taken.lines);
    // Taking nothing changes nothing: an LF still owed to a CR stays owed.
    if (taken.bytes == 0) return;
    after_cr_ = taken.after_cr;
    searched_ = 0;
  }

  // The lines taken since the start.
  std::int64_t lines() const { return lines_; }

 private:
  std::int64_t lines_ = 0;
  std::size_t searched_ = 0;  // bytes of the unfinished line known to hold no break
  bool after_cr_ = false;
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
