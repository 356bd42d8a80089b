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
// what ExtractElementText would give for each name on a line, at the cost of
// one walk over the line's "<" bytes instead of two searches per name: every
// tag begins with "<", so the first "<" at which a tag matches is where a
// search for that tag alone would have found it. A table indexed by the byte
// after "<" (or after "</") names the few candidates worth comparing, and a
// short tag is compared as one word.
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

  // For every k whose value ExtractElementText(line, names[k]) is non-empty,
  // stores it in values[k] and sets bit k of `present`; other entries of
  // `values` are left as they were (a line rarely holds more than one
  // element, so nothing is cleared). Also tells, in the same pass, whether
  // the line contains `marker`, which must begin with "<" (empty: none).
  Found ExtractPresent(std::string_view line, std::span<std::string_view> values,
                       std::string_view marker = {}) const;

  // values[k] = ExtractElementText(line, names[k]) for every k.
  void Extract(std::string_view line, std::span<std::string_view> values) const;

  // What ScanLines found on one line: `present` as in Found, and bit j of
  // `markers` set when the line contains the constructor's markers[j].
  struct LineFound {
    std::uint32_t present = 0;
    std::uint32_t markers = 0;
  };
  // What ScanLines took of its chunk.
  struct ChunkTaken {
    std::size_t bytes = 0;   // the whole lines taken, with their line breaks
    std::size_t lines = 0;   // how many
    bool after_cr = false;   // the last byte taken is a CR whose LF is not in the chunk
    bool stopped = false;    // visit asked to stop
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
  // Whether "<" + names_[k] + ">" stands at `open` (a "<") for a short name
  // k, which is then set.
  bool SingleElementOpening(const char* open, const char* end, std::size_t& k) const {
    const std::uint64_t word = LoadUpTo8(open, end) >> 8;
    const unsigned char after = end - open > 1 ? static_cast<unsigned char>(open[1]) : 0;
    for (unsigned m = by_first_byte_[after]; m != 0; m &= m - 1) {
      k = static_cast<unsigned>(__builtin_ctz(m));
      const Packed& tag = tags_[k];
      if (tag.size != 0 && tag.size <= 6 && (word & tag.mask) == tag.bytes) return true;
    }
    return false;
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
  std::array<std::uint16_t, 256> by_first_byte_{};  // bit k: names_[k] starts so
  std::array<std::string_view, kMaxMarkers> markers_{};
  std::array<Packed, kMaxMarkers> packed_markers_{};
  std::size_t marker_count_ = 0;
  // Bit k: no marker can begin where "<name>" or "</name>" of names_[k]
  // stands, so a line holding just that element holds no marker.
  std::uint32_t marker_free_ = 0;
};

template <typename Visit>
ElementScanner::ChunkTaken ElementScanner::ScanLines(std::string_view chunk, bool last,
                                                     std::span<std::string_view> values,
                                                     Visit&& visit) const {
  ChunkTaken taken;
  const char* const base = chunk.data();
  const char* const end = base + chunk.size();
  for (const char* line = base; line < end;) {
    LineFound found;
    // Most lines are one element: "<name>", a value, "</name>", the line's
    // end. Such a line is recognised in two short searches; any other line
    // (or one near the chunk's end) is walked "<" by "<".
    const char* stop = FindFirstOf(line, end, '<', '\r', '\n');
    const char* const open = stop;
    std::size_t k = 0;
    if (stop < end && *stop == '<' && SingleElementOpening(open, end, k)) {
      const char* const value = open + 1 + tags_[k].size;
      const char* const close = FindFirstOf(value, end, '<', '\r', '\n');
      const char* const after = close + 2 + tags_[k].size;
      if (after <= end && *close == '<' && close[1] == '/' &&
          ((LoadUpTo8(close, end) >> 16) & tags_[k].mask) == tags_[k].bytes &&
          (after < end ? *after == '\r' || *after == '\n' : last) &&
          ((marker_free_ >> k) & 1 || (!AnyMarkerAt(open, end) && !AnyMarkerAt(close, end)))) {
        const std::string_view text = TrimBlankAndControl(
            std::string_view(value, static_cast<std::size_t>(close - value)));
        if (!text.empty()) {
          values[k] = text;
          found.present = 1u << k;
        }
        stop = after;
      } else {
        stop = end;  // not the common shape: walk the line below
      }
    }
    if (stop == end || *stop == '<') {
      stop = FindFirstOf(open, end, '\r', '\n', '\n');
      if (stop == end && !last) break;  // the line goes on in the next chunk
      LineTags tags;
      ForEachByte(open, stop, '<', [&](const char* p) {
        TakeTag(p, stop, static_cast<std::size_t>(p - line), tags);
        return true;
      });
      const std::string_view text(line, static_cast<std::size_t>(stop - line));
      found = {StoreValues(text, tags, values), tags.markers};
    }
    // `stop` is the line's break, or the chunk's end when it is the last.
    const std::string_view text(line, static_cast<std::size_t>(stop - line));
    const char* next = stop;
    taken.after_cr = false;
    if (next < end) {
      if (*next++ == '\r') {
        if (next == end) {
          taken.after_cr = true;
        } else if (*next == '\n') {
          ++next;
        }
      }
    }
    line = next;
    taken.bytes = static_cast<std::size_t>(next - base);
    ++taken.lines;
    if (!visit(text, found)) {
      taken.stopped = true;
      break;
    }
  }
  return taken;
}

// The same as ExtractPresent for a one-off set of names (builds the table on
// every call).
void ExtractElementTexts(std::string_view line, std::span<const std::string_view> names,
                         std::span<std::string_view> values);

}  // namespace quorvel

#endif  // QUORVEL_TEXT_ELEMENT_SCAN_H
