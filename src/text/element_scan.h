// Several elements of one document line in a single pass, and of many lines
// in a single pass over the bytes that hold them.
#ifndef QUORVEL_TEXT_ELEMENT_SCAN_H
#define QUORVEL_TEXT_ELEMENT_SCAN_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "text/bytes.h"
#include "text/lines.h"
#include "text/scan.h"

namespace quorvel {

// The tags of an element, built in place from its name, which is at most
// kMaxName bytes (callers check; a longer one is cut there).
class TagTexts {
 public:
  static constexpr std::size_t kMaxName = 8;
  explicit TagTexts(std::string_view name)
      : size_(name.size() < kMaxName ? name.size() : kMaxName) {
    name.copy(open_ + 1, size_);
    name.copy(close_ + 2, size_);
    open_[size_ + 1] = '>';
    close_[size_ + 2] = '>';
    close_[size_ + 3] = '\r';
    close_[size_ + 4] = '\n';
  }
  std::string_view open() const { return {open_, size_ + 2}; }         // "<name>"
  std::string_view close() const { return {close_, size_ + 3}; }       // "</name>"
  std::string_view close_line() const { return {close_, size_ + 5}; }  // "</name>" CR LF

 private:
  char open_[kMaxName + 2] = "<";
  char close_[kMaxName + 5] = "</";
  std::size_t size_;
};

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
  // `markers` set when the line contains the constructor's markers[j]. For
  // most lines of one element, `only` is its value too (the one bit of
  // `present` tells whose), so that the visitor has it without an index;
  // else empty.
  struct LineFound {
    std::uint32_t present = 0;
    std::uint32_t markers = 0;
    std::string_view only;
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

  // Whether no marker can begin where "<name>" or "</name>" stands, and the
  // name (at most six bytes) holds no "<".
  static bool MarkerFree(std::string_view name, std::span<const std::string_view> markers);

 private:
  using Packed = PackedText;

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
  // The "<" bytes of one line as ScanLines counts them: how many (3 standing
  // for any more) and where the first two are.
  struct LineMarks {
    std::size_t count = 0;
    std::size_t first = 0;
    std::size_t second = 0;
    void Add(std::size_t block, BlockMask bits) {
      if (bits == 0 || count > 2) return;
      if (count == 0) {
        first = block + LowestBit(bits);
        bits &= bits - 1;
        count = 1;
        if (bits == 0) return;
      }
      if (count == 1) {
        second = block + LowestBit(bits);
        bits &= bits - 1;
        count = 2;
        if (bits == 0) return;
      }
      count = 3;
    }
  };

  // What the line [begin, end) holds, whose first two "<" are `first` and
  // `second`, `more` when others follow: its one element, or what a scan of
  // the whole line finds. `roomy` says the words of SingleElement are
  // readable; else bytes up to `readable` may be read. `guess` as for
  // SingleElement.
  [[gnu::always_inline]] LineFound TwoOrMoreTags(const char* first, const char* second, bool more,
                                                 const char* begin, const char* end,
                                                 const char* readable, bool roomy,
                                                 std::size_t& guess,
                                                 std::span<std::string_view> values) const {
    LineFound found;
    if (!more && (roomy || readable - second >= 8) &&
        SingleElement(first, second, end, guess, values, found)) {
      return found;
    }
    return ScanLine(std::string_view(begin, static_cast<std::size_t>(end - begin)), values);
  }
  // The same for the line [begin, end) whose "<" bytes are `lt`. No element
  // without two "<"; a marker begins at the one there is.
  [[gnu::always_inline]] LineFound FinishLine(const char* begin, const char* end,
                                              const char* readable, const LineMarks& lt,
                                              std::size_t& guess,
                                              std::span<std::string_view> values) const {
    if (lt.count >= 2) {
      return TwoOrMoreTags(begin + lt.first, begin + lt.second, lt.count > 2, begin, end, readable,
                           false, guess, values);
    }
    if (lt.count == 0) return {};
    return {0, MarkersAt(begin + lt.first, readable), {}};
  }
  // The same for a line whose "<" bytes are the bits of `marks` counted
  // from `block`.
  [[gnu::always_inline]] LineFound LineInBlock(const char* block, BlockMask marks,
                                               const char* begin, const char* end,
                                               const char* readable, bool roomy, std::size_t& guess,
                                               std::span<std::string_view> values) const {
    if (marks == 0) return {};
    const char* const first = block + LowestBit(marks);
    const BlockMask rest = marks & (marks - 1);
    if (rest == 0) return {0, MarkersAt(first, readable), {}};
    return TwoOrMoreTags(first, block + LowestBit(rest), (rest & (rest - 1)) != 0, begin, end,
                         readable, roomy, guess, values);
  }
  static constexpr std::size_t kBlockBytes = 8 * sizeof(BlockMask);
  // Whether a line may run on past a block with its "<" there kept, rather
  // than be read again from its beginning: a 32-bit build, its blocks half
  // as long and its registers fewer, does better reading again.
  static constexpr bool kCarryOn = kBlockBytes >= 64;
  // The line break that ends the line beginning at `line`, which holds none
  // before `from`, or `size` when the chunk holds none; the "<" bytes of the
  // line from `from` on are added to `lt`.
  static std::size_t LineEnd(const char* base, std::size_t size, std::size_t line, std::size_t from,
                             LineMarks& lt) {
    for (std::size_t block = from; block < size; block += kBlockBytes) {
      const std::size_t room = size - block;
      const ByteMasks masks =
          ClassifyBlock(base + block, room < kBlockBytes ? room : kBlockBytes, '<', '\r', '\n');
      // The first CR or LF ends the line.
      const BlockMask breaks = masks.b | masks.c;
      if (breaks == 0) {
        lt.Add(block - line, masks.a);
        continue;
      }
      lt.Add(block - line, masks.a & (breaks ^ (breaks - 1)));
      return block + LowestBit(breaks);
    }
    return size;
  }
  // Hands the line from `begin` to `stop`, holding `found`, to visit, and
  // moves `begin` past its line break, one byte more where that is a CR LF
  // (`pair`); false when visit says to stop.
  template <typename Visit>
  [[gnu::always_inline]] static bool HandOver(const char*& begin, std::size_t& lines,
                                              const char* stop, BlockMask pair,
                                              const LineFound& found, Visit& visit) {
    const std::string_view text(begin, static_cast<std::size_t>(stop - begin));
    begin = stop + 1 + pair;
    ++lines;
    return visit(text, found);
  }
  // The line break that ends the line beginning at `line`, which holds none
  // up to the end of the block at `block`, or the chunk's size when it holds
  // none; the line's "<" bytes (`pending`, if any, the bits of `marks` from
  // `block`, and those past the block) are gathered in `lt`.
  static std::size_t LongLineEnd(std::string_view chunk, std::size_t line, const char* pending,
                                 std::size_t block, BlockMask marks, LineMarks& lt) {
    if (pending != nullptr) lt.Add(static_cast<std::size_t>(pending - (chunk.data() + line)), 1);
    lt.Add(block - line, marks);
    return LineEnd(chunk.data(), chunk.size(), line, block + kBlockBytes, lt);
  }
  // Where a CR has its LF right after it, in the block at `block` whose
  // bytes are `masks` or just past it.
  static BlockMask PairedCrs(const ByteMasks& masks, const char* base, std::size_t size,
                             std::size_t block) {
    BlockMask cr_lf = masks.b & (masks.c >> 1);
    if ((masks.b >> (kBlockBytes - 1)) != 0 && size - block > kBlockBytes &&
        base[block + kBlockBytes] == '\n') {
      cr_lf |= BlockMask{1} << (kBlockBytes - 1);
    }
    return cr_lf;
  }
  // Where the block after the one at `block` (from `at`) begins, the current
  // line beginning at `line` with `marks` its "<" bytes there: past the
  // block when it has at most one (kept in `pending`; a line that begins
  // past the block has none), else again from its beginning.
  static std::size_t NextBlock(std::size_t block, std::size_t line, const char* at, BlockMask marks,
                               const char*& pending) {
    if (!kCarryOn || (marks & (marks - 1)) != 0) return line;
    if (marks != 0) pending = at + LowestBit(marks);
    return line > block + kBlockBytes ? line : block + kBlockBytes;
  }
  // What a walk that has taken `lines` lines, the next beginning at `line`,
  // took.
  static ChunkTaken Taken(std::string_view chunk, std::size_t line, std::size_t lines,
                          bool stopped) {
    // A line break that is a CR ending the chunk may have its LF in the next.
    return ChunkTaken{line, lines, line == chunk.size() && line != 0 && chunk[line - 1] == '\r',
                      stopped};
  }
  // The same for a line whose first "<" is `pending`, before `block`, and
  // whose others are the bits of `marks`.
  LineFound LineAfterBlock(const char* pending, const char* block, BlockMask marks,
                           const char* begin, const char* end, const char* readable,
                           std::size_t& guess, std::span<std::string_view> values) const {
    if (marks == 0) return {0, MarkersAt(pending, readable), {}};
    return TwoOrMoreTags(pending, block + LowestBit(marks), (marks & (marks - 1)) != 0, begin, end,
                         readable, false, guess, values);
  }
  // Hands the lines that end in the block at `block` (classified as
  // `masks`, its line breaks `breaks`) to visit, from the line at `begin`
  // on, the one that ran on from the block before (`pending`) first; leaves
  // `begin` at the next line and in `marks` the "<" bytes after the last
  // break. False when visit says to stop. Inlined into ScanLines, whose
  // locals these are: the walk keeps them in registers.
  template <typename Visit>
  [[gnu::always_inline]] bool BlockLines(std::string_view chunk, std::size_t block,
                                         const ByteMasks& masks, BlockMask breaks, BlockMask& marks,
                                         const char*& begin, const char*& pending,
                                         std::size_t& lines, std::size_t& guess,
                                         std::span<std::string_view> values, Visit& visit) const {
    const char* const base = chunk.data();
    const char* const readable = base + chunk.size();
    const BlockMask cr_lf = PairedCrs(masks, base, chunk.size(), block);
    // Every word SingleElement loads for a line of this block lies before
    // the block's end + 8.
    const bool roomy = chunk.size() - block >= kBlockBytes + 8;
    const char* const at = base + block;
    if (pending != nullptr) {
      // The line that ran on from the block before.
      const unsigned bit = LowestBit(breaks);
      const BlockMask mine = marks & (breaks ^ (breaks - 1));
      marks ^= mine;
      const char* const stop = at + bit;
      const LineFound found =
          LineAfterBlock(pending, at, mine, begin, stop, readable, guess, values);
      pending = nullptr;
      if (!HandOver(begin, lines, stop, (cr_lf >> bit) & 1, found, visit)) return false;
      breaks &= breaks - 1;
    }
    for (; breaks != 0; breaks &= breaks - 1) {
      const unsigned bit = LowestBit(breaks);
      // The line's "<" bytes: those before the break (none is a line break).
      const BlockMask mine = marks & (breaks ^ (breaks - 1));
      marks ^= mine;
      const char* const stop = at + bit;
      const LineFound found = LineInBlock(at, mine, begin, stop, readable, roomy, guess, values);
      if (!HandOver(begin, lines, stop, (cr_lf >> bit) & 1, found, visit)) return false;
    }
    return true;
  }
  // The same for any line, one "<" at a time.
  LineFound ScanLine(std::string_view line, std::span<std::string_view> values) const;

  // Most lines are one element, "<name>", a value, "</name>" and the line's
  // end, with a short name: such a line, whose only "<" are `open` and
  // `close` and which ends at `end`, is told apart here, and what it holds
  // set in `found`. False for any other line. The eight bytes from `open` + 1
  // and from `close` must be readable. Rows list their elements in the same
  // order, so the one after the last found (the first after the last) is
  // tried first.
  [[gnu::always_inline]] bool SingleElement(const char* open, const char* close, const char* end,
                                            std::size_t& guess, std::span<std::string_view> values,
                                            LineFound& found) const {
    std::size_t k = guess;
    if (!PackedAt(open + 1, single_[k].guessed) && !SingleElementOpening(open, k)) return false;
    const SingleTags& tags = single_[k];
    if (close + tags.close.size != end || !PackedAt(close, tags.close)) return false;
    guess = tags.next;
    // No name with a closing tag here holds a "<", so `close`, the next "<"
    // after `open`, lies past its opening tag.
    const char* const value = open + tags.value;
    const std::string_view text =
        TrimBlankAndControl(std::string_view(value, static_cast<std::size_t>(close - value)));
    if (!text.empty()) {
      values[k] = text;
      found.present = 1u << k;
      found.only = text;
    }
    return true;
  }

  // Whether "<" + names_[k] + ">" stands at `open` (a "<") for a short name
  // k, which is then set.
  bool SingleElementOpening(const char* open, std::size_t& k) const {
    std::uint64_t word;
    std::memcpy(&word, open + 1, 8);
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
      if (marker.size != 0 ? (word & marker.mask) == marker.bytes
                           : TextAt(p, readable, markers_[j])) {
        markers |= 1u << j;
      }
    }
    return markers;
  }
  // Stores the non-empty values of a line whose tags are `tags`; returns
  // their bits.
  std::uint32_t StoreValues(std::string_view line, const LineTags& tags,
                            std::span<std::string_view> values) const;

  std::array<std::string_view, kMaxNames> names_{};
  std::array<Packed, kMaxNames> tags_{};  // name + ">", packed where it is short
  // What SingleElement compares, by name, side by side so that one index
  // reaches them all.
  struct SingleTags {
    // tags_[k] where names_[k] is short and no other name + ">" begins with
    // its name + ">" or the other way round, so where "<name>" stands no
    // other name's opening tag does, and the table would name k alone;
    // else nothing matches. The guess is tried so.
    Packed guessed;
    // "</" + name + ">" where name + ">" is at most 6 bytes, and no marker
    // can begin where "<name>" or "</name>" stands (so a line holding just
    // that element holds no marker), and the name holds no "<"; else
    // nothing, as SingleElement takes no other.
    Packed close;
    std::size_t value = 0;  // from "<" to the value: "<" + name + ">"
    // The name to guess after this one: the next, or after the last the
    // first, which begins the next row.
    std::size_t next = 0;
  };
  std::array<SingleTags, kMaxNames> single_{};
  std::size_t count_ = 0;
  std::array<std::uint16_t, 256> by_first_byte_{};   // bit k: names_[k] starts so
  std::array<std::uint16_t, 256> by_second_byte_{};  // bit k: names_[k] + ">" goes on so
  std::array<std::string_view, kMaxMarkers> markers_{};
  std::array<Packed, kMaxMarkers> packed_markers_{};
  std::size_t marker_count_ = 0;
};

template <typename Visit>
ChunkTaken ElementScanner::ScanLines(std::string_view chunk, bool last,
                                     std::span<std::string_view> values, Visit&& visit) const {
  const char* const base = chunk.data();
  const std::size_t size = chunk.size();
  const char* const readable = base + size;
  std::size_t line = 0;   // where the current line begins
  std::size_t lines = 0;  // the lines taken
  std::size_t guess = 0;
  // A block begins where a line begins, or (kCarryOn) just past the block
  // before when the line that runs on has at most one "<" there, kept in
  // `pending`: so most lines are told from the bits of one mask and perhaps
  // that "<", with no count carried from block to block. The bytes of a line
  // that runs on otherwise are read again from its beginning.
  std::size_t block = 0;
  const char* pending = nullptr;
  while (line < size) {
    // Past the chunk's end, where its last line may run on, no byte is
    // classified: that line holds no break, and no "<" but `pending`.
    const std::size_t room = block < size ? size - block : 0;
    const ByteMasks masks = ClassifyBlock(base + (room != 0 ? block : size),
                                          room < kBlockBytes ? room : kBlockBytes, '<', '\r', '\n');
    // A block begins at a line's beginning or past a byte of a line that is
    // no line break, never at the LF of a CR LF: that is taken with its CR.
    BlockMask breaks = masks.b | (masks.c & ~(masks.b << 1));
    if (breaks == 0) {
      // A line longer than a block, or the chunk's unfinished last line.
      LineMarks lt;
      const std::size_t stop = LongLineEnd(chunk, line, pending, block, masks.a, lt);
      if (stop == size && !last) return Taken(chunk, line, lines, false);
      const LineFound found = FinishLine(base + line, base + stop, readable, lt, guess, values);
      const std::string_view text(base + line, stop - line);
      line = block = stop == size ? size : PastLineBreak(base, size, stop).next;
      pending = nullptr;
      ++lines;
      if (!visit(text, found)) return Taken(chunk, line, lines, true);
      continue;
    }
    BlockMask marks = masks.a;
    const char* begin = base + line;  // the current line
    if (!BlockLines(chunk, block, masks, breaks, marks, begin, pending, lines, guess, values,
                    visit)) {
      return Taken(chunk, static_cast<std::size_t>(begin - base), lines, true);
    }
    line = static_cast<std::size_t>(begin - base);
    block = NextBlock(block, line, base + block, marks, pending);
  }
  return Taken(chunk, line, lines, false);
}

}  // namespace quorvel

#endif  // QUORVEL_TEXT_ELEMENT_SCAN_H
