// The one loop that walks an input's lines through its read window, for both
// conversions and each of their passes.
#ifndef QUORVEL_CONVERT_WALK_H
#define QUORVEL_CONVERT_WALK_H

#include <cstdint>
#include <limits>
#include <new>
#include <string_view>

#include "convert/findings.h"
#include "io/input.h"
#include "text/lines.h"
#include "text/scan.h"

namespace quorvel {

// The most lines a content may have: line numbers and counts are signed
// 32-bit values in the messages and the document.
inline constexpr std::int64_t kMaxLines = std::numeric_limits<std::int32_t>::max();

// Walks the lines of `input` from where `lines` left them, a window at a
// time: whenever the unread bytes hold a whole line, hands them (from the
// start of the next line) to scan(chunk, last), which takes whole lines from
// their front and returns what it took (a ChunkTaken); calls moving() before
// the window moves on, so that what points into it can be kept. Returns true
// when scan stopped (the window has not moved since), false once the content
// has ended. Raises std::bad_alloc past kMaxLines lines ("Out of memory": no
// count can hold them), and what the reader raises.
template <typename Scan, typename Moving>
bool WalkContent(ByteReader& input, LineState& lines, Scan&& scan, Moving&& moving);

// WalkContent always inlined, for the walk that takes most of a conversion's
// time where its scanner and the values it finds are the caller's locals:
// each line's work then reaches them in the caller's frame, not through
// pointers that a 32-bit build, short of registers, reloads every line.
template <typename Scan, typename Moving>
[[gnu::always_inline]] inline bool WalkContentInlined(ByteReader& input, LineState& lines,
                                                      Scan&& scan, Moving&& moving) {
  for (;;) {
    std::string_view chunk = input.Unread();
    const std::size_t owed = lines.OwedBytes(chunk);
    input.Consume(owed);
    chunk.remove_prefix(owed);
    if (lines.HoldsWholeLine(chunk, input.AtEnd())) {
      const ChunkTaken taken = scan(chunk, input.AtEnd());
      input.Consume(taken.bytes);
      lines.Took(taken);
      if (lines.lines() > kMaxLines) throw std::bad_alloc();
      if (taken.stopped) return true;
    }
    moving();
    if (!input.ReadMore()) return false;
  }
}

template <typename Scan, typename Moving>
bool WalkContent(ByteReader& input, LineState& lines, Scan&& scan, Moving&& moving) {
  return WalkContentInlined(input, lines, static_cast<Scan&&>(scan), static_cast<Moving&&>(moving));
}

// How a content was counted: its lines, and its bytes up to the end or its
// first NUL.
struct ContentSize {
  std::int64_t lines = 0;
  std::uint64_t bytes = 0;
  bool operator==(const ContentSize&) const = default;
};

// Tells `findings` (when given) of the NUL that ended the content of
// `input`, once a walk that counted `lines` lines has reached it: when bytes
// follow it, or may (a stream is read no further). A NUL that is a file's
// last byte cuts nothing off.
inline void TellNul(const ByteReader& input, std::int64_t lines, Findings* findings) {
  const ByteReader::Nul& nul = input.nul();
  if (findings == nullptr || !nul.found || (nul.exact && nul.following == 0)) return;
  findings->EndedAtNul({lines + (nul.begins_line ? 1 : 0), nul.following, nul.exact});
}

// Counts the lines of `input` from where it stands to its end.
inline ContentSize CountContent(ByteReader& input) {
  LineState lines;
  WalkContent(input, lines, CountWholeLines, [] {});
  return {lines.lines(), input.Consumed()};
}

}  // namespace quorvel

#endif  // QUORVEL_CONVERT_WALK_H
