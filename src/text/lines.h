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
#include <string_view>

namespace quorvel {

// `content` up to its first NUL byte, which ends every text.
std::string_view BeforeFirstNul(std::string_view content);

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
