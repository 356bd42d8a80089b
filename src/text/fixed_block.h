// A block of element lines read whole, where it is laid out as a document
// writer lays it out.
#ifndef QUORVEL_TEXT_FIXED_BLOCK_H
#define QUORVEL_TEXT_FIXED_BLOCK_H

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "text/bytes.h"
#include "text/scan.h"

namespace quorvel {

// Reads a block laid out the one way a writer of the document lays it out:
// an opening line whose only "<" begins the opening marker, then one line per
// name, in the names' order, whose only "<" bytes are those of "<name>" and
// "</name>" right before the line's break, then a closing line whose only "<"
// begins the closing marker; every line ends in CR LF or LF. On such lines
// the general line walk (ElementScanner) finds just this: the opening and
// closing markers, and on each element line the one element's value, trimmed.
// So a block read here needs no walk of its own; anything else is left to the
// walk, which is exact for every line.
class FixedBlockReader {
 public:
  static constexpr std::size_t kMaxNames = 16;

  // The names and markers are kept as views: they must outlive the reader
  // (the document's literals do). Unusable (every Read fails) when a name
  // is empty or too long to compare as a word, or a marker could begin
  // where a tag stands.
  FixedBlockReader(std::span<const std::string_view> names, std::string_view open_marker,
                   std::string_view close_marker);

  // The lines of a block.
  std::size_t lines() const { return count_ + 2; }

  // Reads the block whose opening line begins at `p`, all of it within
  // [p, end): stores each name's value (non-empty, a view into the bytes) in
  // values[k] and returns where the line after the block begins. nullptr
  // when the bytes from `p` are anything else, or run past `end`; `values`
  // may then hold anything. Each kind of line is first compared with how the
  // one before it began, its indentation and tag as one word.
  const char* Read(const char* p, const char* end, std::span<std::string_view> values) {
    if (count_ == 0) return nullptr;
    p = MarkerLine(p, end, open_marker_, leads_[kMaxNames]);
    for (std::size_t k = 0; k < count_ && p != nullptr; ++k) p = ElementLine(p, end, k, values);
    return p != nullptr ? MarkerLine(p, end, close_marker_, leads_[kMaxNames + 1]) : nullptr;
  }

 private:
  // The line's first "<", CR or LF from `p`, when it is a "<" with eight
  // bytes readable from it.
  static const char* NextTag(const char* p, const char* end) {
    const char* const at = FindFirstOf(p, end, '<', '\r', '\n');
    return end - at >= 8 && *at == '<' ? at : nullptr;
  }
  // Where the next line begins, when a line break (CR LF or LF) stands at `p`.
  static const char* PastBreak(const char* p, const char* end) {
    if (p < end && *p == '\n') return p + 1;
    return end - p >= 2 && p[0] == '\r' && p[1] == '\n' ? p + 2 : nullptr;
  }
  // Past `tag`, when it begins with the first "<" of the line at `p`. The
  // line's bytes up to there are compared with `lead`, how the line before
  // of its kind began, and else searched and learnt as the new lead: bytes
  // that hold no CR, LF or "<" but the tag's own, wherever they stand.
  static const char* PastLead(const char* p, const char* end, const PackedText& tag,
                              PackedText& lead) {
    if (end - p >= 8 && PackedAt(p, lead)) return p + lead.size;
    const char* const at = NextTag(p, end);
    if (at == nullptr || !PackedAt(at, tag)) return nullptr;
    const char* const past = at + tag.size;
    lead = PackText(std::string_view(p, static_cast<std::size_t>(past - p)));
    return past;
  }
  // The line at `p`, whose only "<" begins `marker`.
  static const char* MarkerLine(const char* p, const char* end, const PackedText& marker,
                                PackedText& lead) {
    const char* const past = PastLead(p, end, marker, lead);
    if (past == nullptr) return nullptr;
    if (const char* const next = PastBreak(past, end)) return next;
    // The first "<", CR or LF must be a line break.
    return PastBreak(FindFirstOf(past, end, '<', '\r', '\n'), end);
  }
  // The line at `p`, of names_[k]'s element alone.
  const char* ElementLine(const char* p, const char* end, std::size_t k,
                          std::span<std::string_view> values) {
    const char* const value = PastLead(p, end, open_[k], leads_[k]);
    if (value == nullptr) return nullptr;
    const char* const close = NextTag(value, end);
    if (close == nullptr) return nullptr;
    const char* next;
    if (PackedAt(close, close_crlf_[k])) {
      next = close + close_crlf_[k].size;
    } else if (PackedAt(close, close_[k])) {
      next = PastBreak(close + close_[k].size, end);
    } else {
      return nullptr;
    }
    const std::string_view text =
        TrimBlankAndControl(std::string_view(value, static_cast<std::size_t>(close - value)));
    if (text.empty()) return nullptr;
    values[k] = text;
    return next;
  }

  std::array<PackedText, kMaxNames> open_{};        // "<name>"
  std::array<PackedText, kMaxNames> close_{};       // "</name>"
  std::array<PackedText, kMaxNames> close_crlf_{};  // "</name>" CR LF, where it is short
  // How each kind of line began last: element lines by name, then opening and
  // closing lines.
  std::array<PackedText, kMaxNames + 2> leads_{};
  PackedText open_marker_;
  PackedText close_marker_;
  std::size_t count_ = 0;  // 0: unusable
};

}  // namespace quorvel

#endif  // QUORVEL_TEXT_FIXED_BLOCK_H
