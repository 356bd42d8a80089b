// Fast searches for line breaks and separators.
//
// Line breaks and field separators are found sixteen bytes at a time where the
// processor has SSE2 (every x86-64 and every 32-bit Windows host this library
// targets), and a byte at a time elsewhere. Both give the same answer.
#ifndef QUORVEL_TEXT_SCAN_H
#define QUORVEL_TEXT_SCAN_H

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorvel {

// The bytes [p, end) as a word, at most eight of them, zero beyond `end`:
// byte i of the text is byte i of the word in memory order, so that on a
// little-endian processor it is bits 8i to 8i+7.
inline std::uint64_t LoadUpTo8(const char* p, const char* end) {
  const std::size_t n = static_cast<std::size_t>(end - p);
  std::uint64_t word = 0;
  if (n >= 8) {
    std::memcpy(&word, p, 8);
  } else if (n >= 4 && std::endian::native == std::endian::little) {
    // Two overlapping loads cover the n bytes exactly.
    std::uint32_t low;
    std::uint32_t high;
    std::memcpy(&low, p, 4);
    std::memcpy(&high, p + n - 4, 4);
    word = low | (std::uint64_t{high} << ((n - 4) * 8));
  } else {
    std::memcpy(&word, p, n);
  }
  return word;
}

// The index of the lowest set bit of `bits`, which is not 0. A 32-bit build
// would call a library routine for __builtin_ctzll once per line break and
// TAB: the two halves are taken in turn instead.
inline unsigned LowestBit(std::uint64_t bits) {
  if constexpr (sizeof(void*) >= sizeof(std::uint64_t)) {
    return static_cast<unsigned>(__builtin_ctzll(bits));
  } else {
    const auto low = static_cast<std::uint32_t>(bits);
    if (low != 0) return static_cast<unsigned>(__builtin_ctz(low));
    return 32 + static_cast<unsigned>(__builtin_ctz(static_cast<std::uint32_t>(bits >> 32)));
  }
}

// The same for a 32-bit mask.
inline unsigned LowestBit(std::uint32_t bits) { return static_cast<unsigned>(__builtin_ctz(bits)); }

// The first byte in [p, end) equal to a, b or c; `end` when there is none.
inline const char* FindFirstOf(const char* p, const char* end, char a, char b, char c) {
#if defined(__SSE2__)
  const __m128i va = _mm_set1_epi8(a);
  const __m128i vb = _mm_set1_epi8(b);
  const __m128i vc = _mm_set1_epi8(c);
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)),
                                     _mm_cmpeq_epi8(v, vc));
    const int mask = _mm_movemask_epi8(hit);
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  while (p < end && *p != a && *p != b && *p != c) ++p;
  return p;
}

// Calls visit(p) for each byte p in [begin, end) equal to a, b, c or d, in
// order, until visit returns false. Sixteen bytes at a time; a tail shorter
// than that is read as the last sixteen bytes of the range, minus the ones
// already seen.
template <typename Visit>
inline void ForEachByteOf(const char* begin, const char* end, char a, char b, char c, char d,
                          Visit&& visit) {
  const char* p = begin;
#if defined(__SSE2__)
  const __m128i va = _mm_set1_epi8(a);
  const __m128i vb = _mm_set1_epi8(b);
  const __m128i vc = _mm_set1_epi8(c);
  const __m128i vd = _mm_set1_epi8(d);
  auto matches = [&](const char* at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)),
                                     _mm_or_si128(_mm_cmpeq_epi8(v, vc), _mm_cmpeq_epi8(v, vd)));
    return static_cast<unsigned>(_mm_movemask_epi8(hit));
  };
  for (; end - p >= 16; p += 16) {
    for (unsigned mask = matches(p); mask != 0; mask &= mask - 1) {
      if (!visit(p + __builtin_ctz(mask))) return;
    }
  }
  if (p < end && end - begin >= 16) {
    const char* const last = end - 16;
    for (unsigned mask = matches(last) & (~0u << (p - last)); mask != 0; mask &= mask - 1) {
      if (!visit(last + __builtin_ctz(mask))) return;
    }
    return;
  }
#endif
  for (; p < end; ++p) {
    if ((*p == a || *p == b || *p == c || *p == d) && !visit(p)) return;
  }
}

// The mask of one block of the line walks: a machine word, so that a 32-bit
// build walks 32-byte blocks whose masks fit one register each, where 64-byte
// blocks would take two registers and a pair of instructions per mask step.
using BlockMask = std::conditional_t<(sizeof(void*) >= 8), std::uint64_t, std::uint32_t>;

// For the bytes [p, p + n) with n the bits of Mask (or fewer, `size`, when
// the range ends sooner): bit i of `a`, `b` and `c` is set when byte i equals
// the byte of that name. None of the three bytes is NUL. Sixteen-byte
// compares where the processor has SSE2.
template <typename Mask>
struct ByteMasksOf {
  Mask a = 0;
  Mask b = 0;
  Mask c = 0;
};
using ByteMasks = ByteMasksOf<BlockMask>;
template <typename Mask = BlockMask>
inline ByteMasksOf<Mask> ClassifyBlock(const char* p, std::size_t size, char a, char b, char c) {
  constexpr std::size_t kBytes = 8 * sizeof(Mask);
  char padded[kBytes];
  if (size < kBytes) {
    // Zeros match none of the three.
    std::memset(padded, 0, sizeof padded);
    std::memcpy(padded, p, size);
    p = padded;
  }
  ByteMasksOf<Mask> masks;
#if defined(__SSE2__)
  const __m128i va = _mm_set1_epi8(a);
  const __m128i vb = _mm_set1_epi8(b);
  const __m128i vc = _mm_set1_epi8(c);
  for (std::size_t k = 0; k < kBytes / 16; ++k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    const auto shift = static_cast<unsigned>(16 * k);
    // A mask of sixteen bytes is 0 to 0xFFFF: no bit to clear above them.
    auto mask = [](__m128i hits) {
      return static_cast<Mask>(static_cast<unsigned>(_mm_movemask_epi8(hits)));
    };
    masks.a |= mask(_mm_cmpeq_epi8(v, va)) << shift;
    masks.b |= mask(_mm_cmpeq_epi8(v, vb)) << shift;
    masks.c |= mask(_mm_cmpeq_epi8(v, vc)) << shift;
  }
#else
  for (std::size_t i = 0; i < kBytes; ++i) {
    const Mask bit = Mask{1} << i;
    if (p[i] == a) masks.a |= bit;
    if (p[i] == b) masks.b |= bit;
    if (p[i] == c) masks.c |= bit;
  }
#endif
  return masks;
}

// The line breaks of a block whose CR and LF bytes are the bits of `cr` and
// `lf`: every CR ends a line, and every LF but one right after a CR.
// `after_cr_bit` is 1 when the block before ended with a CR, and becomes so
// for this block.
template <typename Mask>
inline Mask LineBreakBits(Mask cr, Mask lf, Mask& after_cr_bit) {
  const Mask breaks = cr | (lf & ~((cr << 1) | after_cr_bit));
  after_cr_bit = cr >> (8 * sizeof(Mask) - 1);
  return breaks;
}

// A short byte string packed into a word with the mask of its bytes, so
// that one load and one compare tell whether it stands at a position.
struct PackedText {
  std::uint64_t bytes = 1;  // with `mask` 0, no word matches until packed
  std::uint64_t mask = 0;
  std::size_t size = 0;  // 0: too long to pack (or empty), compared byte by byte
};
inline PackedText PackText(std::string_view text) {
  PackedText packed;
  if (std::endian::native != std::endian::little || text.empty() || text.size() > 8) return packed;
  const std::string_view ones = "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF";
  packed.bytes = LoadUpTo8(text.data(), text.data() + text.size());
  packed.mask = LoadUpTo8(ones.data(), ones.data() + text.size());
  packed.size = text.size();
  return packed;
}
// Whether `packed` stands at `p`, whose eight bytes are readable.
inline bool PackedAt(const char* p, const PackedText& packed) {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  return (word & packed.mask) == packed.bytes;
}

// What a walk over the whole lines at the front of a chunk of content took.
struct ChunkTaken {
  std::size_t bytes = 0;  // the whole lines taken, with their line breaks
  std::size_t lines = 0;  // how many
  bool after_cr = false;  // the last byte taken is a CR whose LF is not in the chunk
  bool stopped = false;   // the walk was asked to stop
};

// Walks the whole lines at the front of `chunk` (which holds no NUL) by the
// line-splitting rule, a block of Mask's bits in bytes at a time: calls mark(position) for every
// byte equal to `marked` (not CR or LF), in order, and end_line(stop, next)
// at the end of every whole line, `stop` being its line break (or the
// chunk's end) and `next` where the next line begins, until end_line returns
// false. A line is whole when its line break is in the chunk, or at the
// chunk's end when `last` says no byte follows it; the marks of a line that
// is not whole are given all the same, and are the caller's to forget.
template <typename Mask = BlockMask, typename Mark, typename EndLine>
ChunkTaken WalkLines(std::string_view chunk, bool last, char marked, Mark&& mark,
                     EndLine&& end_line) {
  ChunkTaken taken;
  const char* const base = chunk.data();
  const std::size_t size = chunk.size();
  auto take_line = [&](std::size_t stop, std::size_t next, bool after_cr) {
    taken.bytes = next;
    ++taken.lines;
    taken.after_cr = after_cr;
    taken.stopped = !end_line(stop, next);
    return !taken.stopped;
  };
  constexpr std::size_t kBytes = 8 * sizeof(Mask);
  Mask after_cr_bit = 0;  // the block before ended with a CR
  for (std::size_t block = 0; block < size; block += kBytes) {
    const ByteMasksOf<Mask> masks = ClassifyBlock<Mask>(
        base + block, size - block < kBytes ? size - block : kBytes, marked, '\r', '\n');
    Mask breaks = LineBreakBits(masks.b, masks.c, after_cr_bit);
    Mask marks = masks.a;
    auto give_marks = [&](Mask bits) {
      for (; bits != 0; bits &= bits - 1) mark(block + LowestBit(bits));
    };
    for (; breaks != 0; breaks &= breaks - 1) {
      const unsigned bit = LowestBit(breaks);
      const Mask before = (Mask{1} << bit) - 1;
      give_marks(marks & before);
      marks &= ~before;
      const std::size_t at = block + bit;
      std::size_t next = at + 1;
      bool after_cr = false;
      if (base[at] == '\r') {
        if (next == size) {
          after_cr = true;  // its LF, if any, comes with the next chunk
        } else if (base[next] == '\n') {
          ++next;
        }
      }
      if (!take_line(at, next, after_cr)) return taken;
    }
    give_marks(marks);
  }
  // The last line, without a line break.
  if (last && taken.bytes < size) take_line(size, size, false);
  return taken;
}

// The same for a single byte value.
template <typename Visit>
inline void ForEachByte(const char* begin, const char* end, char c, Visit&& visit) {
  ForEachByteOf(begin, end, c, c, c, c, static_cast<Visit&&>(visit));
}

// The number of line ends in [begin, end), which holds no NUL: every CR, and
// every LF that does not follow a CR. `after_cr` says whether the byte before
// `begin` (in an earlier piece of the same content) was a CR, so a content
// counted piece by piece gives the same total as counted whole. This is the
// whole work of a counting pass: sixty-four bytes a step, in byte-wide
// counters summed before they can overflow, so that the loop's own steps
// are few.
inline std::size_t CountLineEnds(const char* begin, const char* end, bool after_cr) {
  std::size_t ends = 0;
  const char* p = begin;
  if (p < end) {
    ends += (*p == '\r' || (*p == '\n' && !after_cr)) ? 1 : 0;
    ++p;
  }
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  auto line_ends = [&](const char* at) {  // -1 where a line ends
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at - 1));
    return _mm_or_si128(_mm_cmpeq_epi8(v, cr),
                        _mm_andnot_si128(_mm_cmpeq_epi8(before, cr), _mm_cmpeq_epi8(v, lf)));
  };
  auto add = [&](__m128i counts) {
    const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
    ends += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
            static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
  };
  while (end - p >= 64) {
    // Each step adds at most 4 to a counter: 63 steps stay below 256.
    const std::size_t steps = std::min<std::size_t>(63, static_cast<std::size_t>(end - p) / 64);
    __m128i counts = _mm_setzero_si128();
    for (std::size_t i = 0; i < steps; ++i, p += 64) {
      const __m128i sum = _mm_add_epi8(_mm_add_epi8(line_ends(p), line_ends(p + 16)),
                                       _mm_add_epi8(line_ends(p + 32), line_ends(p + 48)));
      counts = _mm_sub_epi8(counts, sum);
    }
    add(counts);
  }
  __m128i counts = _mm_setzero_si128();
  for (; end - p >= 16; p += 16) counts = _mm_sub_epi8(counts, line_ends(p));
  add(counts);
#endif
  for (; p < end; ++p) {
    if (*p == '\r' || (*p == '\n' && p[-1] != '\r')) ++ends;
  }
  return ends;
}

// Takes the whole lines at the front of `chunk` (which holds no NUL) by the
// line-splitting rule, as WalkLines would, but only counts them: up to and
// including its last line break, and the rest too when `last` says no byte
// follows it.
inline ChunkTaken CountWholeLines(std::string_view chunk, bool last) {
  ChunkTaken taken;
  std::size_t whole = chunk.size();
  while (whole > 0 && chunk[whole - 1] != '\r' && chunk[whole - 1] != '\n') --whole;
  if (whole > 0) {
    taken.bytes = whole;
    taken.lines = CountLineEnds(chunk.data(), chunk.data() + whole, false);
    // A CR that ends the chunk may have its LF in the next one.
    taken.after_cr = whole == chunk.size() && chunk[whole - 1] == '\r';
  }
  if (last && taken.bytes < chunk.size()) {
    taken.bytes = chunk.size();
    ++taken.lines;
    taken.after_cr = false;
  }
  return taken;
}

}  // namespace quorvel

#endif  // QUORVEL_TEXT_SCAN_H
