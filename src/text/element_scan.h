// Several elements of one document line in a single pass, and of many lines
// in a single pass over the bytes that hold them.
#ifndef QUORVEL_TEXT_ELEMENT_SCAN_H
#define QUORVEL_TEXT_ELEMENT_SCAN_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "text/bytes.h"
#include "text/scan.h"

namespace quorvel {

// Finds, for a fixed set of element names (at most kMaxNames, none empty),
// the value of each name's element on a line (the bytes between the first
// "<name>" and the first "</name>", each searched from the start of the line,
// trimmed as ElementValueBetween trims), at the cost of one walk over the
// line's "<" bytes instead of two searches per name: every tag begins with
// "<", so the first "<" at which a tag matches is where a search for that tag
// alone would have found it. A table indexed by the byte after "<" (or after
// "</") names the few candidates worth comparing, and a short tag is compared
// as one word.
//
// Markers are texts beginning with "<" (such as "</row>") whose presence on a
// line is told in the same walk.
class ElementScanner {
 public:
  static constexpr std::size_t kMaxNames = 16;
  static constexpr std::size_t kMaxMarkers = 4;

  // The names and markers are kept as views: they must outlive the scanner
  // (the document's literals do). Neither holds a NUL byte.
  explicit ElementScanner(std::span<const std::string_view> names,
                          std::span<const std::string_view> markers = {});

  struct Found {
    std::uint32_t present = 0;  // bit k: values[k] was set, to a non-empty value
    bool marker = false;        // the line contains the marker
  };

  // For every k whose element value for names[k] on the line is non-empty,
  // stores it in values[k] and sets bit k of `present`; other entries of
  // `values` are left as they were (a line rarely holds more than one
  // element, so nothing is cleared). Also tells, in the same pass, whether
  // the line contains `marker`, which must begin with "<" (empty: none).
  Found ExtractPresent(std::string_view line, std::span<std::string_view> values,
                       std::string_view marker = {}) const;

  // What ScanLines found on one line: `present` as in Found, and bit j of
  // `markers` set when the line contains the constructor's markers[j].
  struct LineFound {
    std::uint32_t present = 0;
    std::uint32_t markers = 0;
  };
  // Walks the whole lines at the front of `chunk` (which holds no NUL) by
  // the line-splitting rule, calling visit(line, found) for each in order
  // with its values in `values`, until visit returns false or no whole line
  // is left. A line is whole when its line break is in the chunk, or at the
  // chunk's end when `last` says no byte follows it. The line and the values
  // are views into the chunk. One pass over the chunk finds the line breaks
  // and the tags together.
  template <typename Visit>
  ChunkTaken ScanLines(std::string_view chunk, bool last, std::span<std::string_view> values,
                       Visit&& visit) const;

 private:
  // A short byte string packed into a word with the mask of its bytes, so
  // that one load and one compare tell whether it stands at a position.
  struct Packed {
    std::uint64_t bytes = 0;
    std::uint64_t mask = 0;
    std::size_t size = 0;  // 0: too long to pack, compared byte by byte
  };
  static Packed Pack(std::string_view text);

  // The tags found so far on one line.
  struct LineTags {
    std::uint32_t opened = 0;
    std::uint32_t closed = 0;
    std::uint32_t markers = 0;
    std::size_t open[kMaxNames];   // where bit k of opened is set: the first "<name>"
    std::size_t close[kMaxNames];  // where bit k of closed is set: the first "</name>"
  };
  // Takes the "<" at `p`, `at` bytes into its line; [p, end) is readable.
  void TakeTag(const char* p, const char* end, std::size_t at, LineTags& tags) const {
    // One word holds the "<" and the seven bytes after it (zero past `end`,
    // and names and markers hold no NUL, so nothing matches beyond it).
    const std::uint64_t word = LoadUpTo8(p, end);
    for (std::size_t j = 0; j < marker_count_; ++j) {
      const Packed& marker = packed_markers_[j];
      if (marker.size != 0 ? (word & marker.mask) == marker.bytes : TextAt(p, end, markers_[j])) {
        tags.markers |= 1u << j;
      }
    }
    const unsigned char after = end - p > 1 ? static_cast<unsigned char>(p[1]) : 0;
    // "<" + name + ">": candidates by the byte after "<".
    for (unsigned m = by_first_byte_[after] & ~tags.opened; m != 0; m &= m - 1) {
      const unsigned k = static_cast<unsigned>(__builtin_ctz(m));
      const Packed& tag = tags_[k];
      if (tag.size != 0 && tag.size <= 7 ? ((word >> 8) & tag.mask) == tag.bytes
                                         : NameAndCloseAt(p + 1, end, names_[k])) {
        tags.open[k] = at;
        tags.opened |= 1u << k;
      }
    }
    // "</" + name + ">": candidates by the byte after "</".
    if (after != '/' || end - p <= 2) return;
    for (unsigned m = by_first_byte_[static_cast<unsigned char>(p[2])] & ~tags.closed; m != 0;
         m &= m - 1) {
      const unsigned k = static_cast<unsigned>(__builtin_ctz(m));
      const Packed& tag = tags_[k];
      if (tag.size != 0 && tag.size <= 6 ? ((word >> 16) & tag.mask) == tag.bytes
                                         : NameAndCloseAt(p + 2, end, names_[k])) {
        tags.close[k] = at;
        tags.closed |= 1u << k;
      }
    }
  }

  // True when `text` stands at `p`, within [p, end), compared byte by byte.
  static bool TextAt(const char* p, const char* end, std::string_view text) {
    if (static_cast<std::size_t>(end - p) < text.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (p[i] != text[i]) return false;
    }
    return true;
  }
  // True when `name` + ">" stands at `p`, within [p, end).
  static bool NameAndCloseAt(const char* p, const char* end, std::string_view name) {
    return static_cast<std::size_t>(end - p) > name.size() && p[name.size()] == '>' &&
           TextAt(p, end, name);
  }
  // The "<" positions of one line that ScanLines keeps; a line with more is
  // walked again.
  static constexpr std::size_t kLineTagSlots = 8;

  // What one line [begin, stop) of `base` holds, given its `count` "<"
  // positions (the first kLineTagSlots of them in `lt`). Most lines are one
  // element, "<name>", a value, "</name>" and the line's end: such a line
  // is recognised from its two "<" alone.
  LineFound FinishLine(const char* base, std::size_t begin, std::size_t stop, const char* readable,
                       const std::size_t* lt, std::size_t count,
                       std::span<std::string_view> values) const {
    const char* const end = base + stop;
    // No element without two "<"; a marker begins at the one there is.
    if (count == 0) return {};
    if (count == 1) return {0, MarkersAt(base + lt[0], readable)};
    std::size_t k = 0;
    if (count == 2 && SingleElementOpening(base + lt[0], readable, k)) {
      const Packed& tag = tags_[k];
      const char* const value = base + lt[0] + 1 + tag.size;
      const char* const close = base + lt[1];
      if (close >= value && close + 2 + tag.size == end && close[1] == '/' &&
          ((LoadUpTo8(close, readable) >> 16) & tag.mask) == tag.bytes &&
          ((marker_free_ >> k) & 1 || (!AnyMarkerAt(base + lt[0], end) && !AnyMarkerAt(close, end)))) {
        const std::string_view text =
            TrimBlankAndControl(std::string_view(value, static_cast<std::size_t>(close - value)));
        if (text.empty()) return {};
        values[k] = text;
        return {1u << k, 0};
      }
    }
    LineTags tags;
    if (count <= kLineTagSlots) {
      for (std::size_t i = 0; i < count; ++i) TakeTag(base + lt[i], end, lt[i] - begin, tags);
    } else {
      ForEachByte(base + begin, end, '<', [&](const char* p) {
        TakeTag(p, end, static_cast<std::size_t>(p - (base + begin)), tags);
        return true;
      });
    }
    return {StoreValues(std::string_view(base + begin, stop - begin), tags, values), tags.markers};
  }

  // Whether "<" + names_[k] + ">" stands at `open` (a "<") for a short name
  // k, which is then set.
  bool SingleElementOpening(const char* open, const char* end, std::size_t& k) const {
    const std::uint64_t word = LoadUpTo8(open, end) >> 8;
    // Candidates by the two bytes after "<": usually exactly one.
    const auto first = static_cast<unsigned char>(word);
    const auto second = static_cast<unsigned char>(word >> 8);
    for (unsigned m = by_first_byte_[first] & by_second_byte_[second]; m != 0; m &= m - 1) {
      k = static_cast<unsigned>(__builtin_ctz(m));
      const Packed& tag = tags_[k];
      if (tag.size != 0 && tag.size <= 6 && (word & tag.mask) == tag.bytes) return true;
    }
    return false;
  }
  // The bits of the markers that stand at `p`; bytes up to `readable` may be
  // read (no marker holds a line break, so none runs past its line).
  std::uint32_t MarkersAt(const char* p, const char* readable) const {
    const std::uint64_t word = LoadUpTo8(p, readable);
    std::uint32_t markers = 0;
    for (std::size_t j = 0; j < marker_count_; ++j) {
      const Packed& marker = packed_markers_[j];
      if (marker.size != 0 ? (word & marker.mask) == marker.bytes : TextAt(p, readable, markers_[j])) {
        markers |= 1u << j;
      }
    }
    return markers;
  }
  // Whether one of the markers stands at `p`.
  bool AnyMarkerAt(const char* p, const char* end) const {
    const std::uint64_t word = LoadUpTo8(p, end);
    for (std::size_t j = 0; j < marker_count_; ++j) {
      const Packed& marker = packed_markers_[j];
      if (marker.size != 0 ? (word & marker.mask) == marker.bytes : TextAt(p, end, markers_[j])) {
        return true;
      }
    }
    return false;
  }
  // Stores the non-empty values of a line whose tags are `tags`; returns
  // their bits.
  std::uint32_t StoreValues(std::string_view line, const LineTags& tags,
                            std::span<std::string_view> values) const;

  std::array<std::string_view, kMaxNames> names_{};
  std::array<Packed, kMaxNames> tags_{};  // name + ">", packed where it is short
  std::size_t count_ = 0;
  std::array<std::uint16_t, 256> by_first_byte_{};   // bit k: names_[k] starts so
  std::array<std::uint16_t, 256> by_second_byte_{};  // bit k: names_[k] + ">" goes on so
  std::array<std::string_view, kMaxMarkers> markers_{};
  std::array<Packed, kMaxMarkers> packed_markers_{};
  std::size_t marker_count_ = 0;
  // Bit k: no marker can begin where "<name>" or "</name>" of names_[k]
  // stands, so a line holding just that element holds no marker.
  std::uint32_t marker_free_ = 0;
};

template <typename Visit>
ChunkTaken ElementScanner::ScanLines(std::string_view chunk, bool last,
                                     std::span<std::string_view> values, Visit&& visit) const {
  const char* const base = chunk.data();
  std::size_t line = 0;                       // where the current line begins
  std::array<std::size_t, kLineTagSlots> lt;  // the line's "<" positions, while they fit
  std::size_t lt_count = 0;
  return WalkLines(
      chunk, last, '<',
      [&](std::size_t at) {
        if (lt_count < kLineTagSlots) lt[lt_count] = at;
        ++lt_count;
      },
      [&](std::size_t stop, std::size_t next) {
        const LineFound found =
            FinishLine(base, line, stop, base + chunk.size(), lt.data(), lt_count, values);
        const std::string_view text(base + line, stop - line);
        lt_count = 0;
        line = next;
        return visit(text, found);
      });
}

}  // namespace quorvel

#endif  // QUORVEL_TEXT_ELEMENT_SCAN_H
