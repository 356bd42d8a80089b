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
#include <cstring>
#include <limits>
#include <string_view>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
  // All at once: `count` fields, the first from base + first on, field k
  // ending at base + stops[k] (k < kKept) and the next beginning a byte later.
  void Assign(const char* base, std::size_t first, const std::size_t* stops, std::size_t count) {
    const std::size_t kept = count < kKept ? count : kKept;
    for (std::size_t k = 0; k < kept; ++k) {
      kept_[k] = std::string_view(base + first, stops[k] - first);
      first = stops[k] + 1;
    }
    constexpr auto kMost = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
    count_ = static_cast<std::int32_t>(count < kMost ? count : kMost);
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

// Bit i set when byte i of the bytes [p, p + size) (32 of them, or fewer
// when the range ends sooner) may end a field: any byte up to CR, so that TAB,
// LF and CR come out of one compare per sixteen bytes. The caller tells them
// from the other control bytes, which are rare, by the byte itself.
inline std::uint32_t FieldEndCandidates(const char* p, std::size_t size) {
  char padded[32];
  if (size < 32) {
    std::memset(padded, 'x', sizeof padded);
    std::memcpy(padded, p, size);
    p = padded;
  }
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r');
  auto at_most_cr = [&](const char* at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, cr), v)));
  };
  return at_most_cr(p) | (at_most_cr(p + 16) << 16);
#else
  std::uint32_t mask = 0;
  for (unsigned i = 0; i < 32; ++i) {
    if (static_cast<unsigned char>(p[i]) <= '\r') mask |= std::uint32_t{1} << i;
  }
  return mask;
#endif
}

// Walks the whole lines at the front of `chunk` (which holds no NUL) by the
// line-splitting rule, splitting each into `fields` as SplitTabFields does,
// and calls visit(fields, line) for each in order, `line` without its line
// break, until visit returns false or no whole line is left. A line is whole
// when its line break is in the chunk, or at the chunk's end when `last` says
// no byte follows it; it takes what WalkLines would take. One pass over the
// chunk finds the line breaks and the TABs together: 32 bytes give one mask
// of the bytes that may be either, and the byte at each bit says which it is
// (a line of records has ten TABs to one line break, so the masks of
// WalkLines, one per byte, would cost more than they save).
// Where the line whose break is at `at` is followed by the next: past a CR
// LF pair, or the one byte; and whether it is a CR that ends the chunk, its LF
// perhaps the next chunk's first byte.
struct PastBreak {
  std::size_t next;
  bool after_cr;
};
inline PastBreak PastLineBreak(const char* base, std::size_t size, std::size_t at) {
  if (base[at] != '\r') return {at + 1, false};
  if (at + 1 == size) return {at + 1, true};
  return {base[at + 1] == '\n' ? at + 2 : at + 1, false};
}

// Hands the lines ScanRecords finds to visit. Takes no local of the walk by
// reference, so that those stay in registers.
template <typename Visit>
struct RecordHandOver {
  FieldList& fields;
  Visit& visit;
  // Where the fields of the line end (the first kKept, and a slot for the
  // rest). A TAB costs one store: the fields are made when the line ends.
  std::size_t (&stops)[FieldList::kKept + 1];
  const char* base;

  // Hands over the line [line, stop) whose last field begins at `field`,
  // after `tabs` TABs.
  bool operator()(std::size_t line, std::size_t stop, std::size_t field, std::size_t tabs) const {
    // One TAB at the very end adds no field; an empty line has none.
    if (field < stop) {
      stops[tabs < FieldList::kKept ? tabs : FieldList::kKept] = stop;
      ++tabs;
    }
    fields.Assign(base, line, stops, tabs);
    return visit(static_cast<const FieldList&>(fields), std::string_view(base + line, stop - line));
  }
};

template <typename Visit>
ChunkTaken ScanRecords(std::string_view chunk, bool last, FieldList& fields, Visit&& visit) {
  constexpr std::size_t kKept = FieldList::kKept;
  const char* const base = chunk.data();
  const std::size_t size = chunk.size();
  std::size_t stops[kKept + 1];
  const RecordHandOver<std::remove_reference_t<Visit>> hand_over{fields, visit, stops, base};
  ChunkTaken taken;
  std::size_t line = 0;   // where the current line begins
  std::size_t field = 0;  // where its current field begins
  std::size_t tabs = 0;   // its TABs so far
  for (std::size_t block = 0; block < size; block += 32) {
    for (std::uint32_t ends = FieldEndCandidates(base + block, size - block); ends != 0;
         ends &= ends - 1) {
      const std::size_t at = block + LowestBit(ends);
      const char byte = base[at];
      if (byte == '\t') {
        stops[tabs < kKept ? tabs : kKept] = at;
        ++tabs;
        field = at + 1;
        continue;
      }
      if ((byte != '\r' && byte != '\n') || at < line) continue;  // or the LF of a CR LF taken
      const PastBreak past = PastLineBreak(base, size, at);
      const bool go_on = hand_over(line, at, field, tabs);
      taken.bytes = past.next;
      ++taken.lines;
      taken.after_cr = past.after_cr;
      if (!go_on) {
        taken.stopped = true;
        break;
      }
      line = field = past.next;
      tabs = 0;
    }
    if (taken.stopped) break;
  }
  // The last line, without a line break.
  if (last && !taken.stopped && taken.bytes < size) {
    taken.stopped = !hand_over(line, size, field, tabs);
    taken.bytes = size;
    ++taken.lines;
    taken.after_cr = false;
  }
  fields.Reset();
  return taken;
}

}  // namespace quorvel

#endif  // QUORVEL_TEXT_LINES_H
