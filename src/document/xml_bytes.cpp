#include "document/xml_bytes.h"

#include "document/gbk_pairs.h"

#include <array>
#include <bit>
#include <cstdint>

#if defined(__SSE2__)
#include <tmmintrin.h>
#endif

namespace quorvel::document {
namespace {

// FirstUnfit from `from` on: a character begins there, and every byte
// before it is a character of its own.
UnfitAt FirstUnfitFrom(std::string_view value, std::size_t from, Written written) {
  const auto* const bytes = reinterpret_cast<const unsigned char*>(value.data());
  const std::size_t size = value.size();
  const bool raw = written == Written::kRaw;
  // The "]" characters just before the one looked at, up to two.
  int brackets = 0;
  for (std::size_t k = from; k > 0 && brackets < 2 && bytes[k - 1] == ']'; --k) ++brackets;
  for (std::size_t i = from; i < size; ++i) {
    const unsigned byte = bytes[i];
    if (byte >= 0x80) {
      // A byte of 0x80 and above begins a character only with the byte after
      // it (the lead byte is named when the two are none).
      if (i + 1 == size || !IsGbkPair(byte, bytes[i + 1])) return {i, Unfit::kNotGbk};
      ++i;
      brackets = 0;
      continue;
    }
    if (byte == '\n' || byte == '\r') return {i, Unfit::kLineBreak};
    if ((byte < 0x20 && byte != '\t') || byte == '&' || (byte == '<' && raw)) {
      return {i, Unfit::kByte};
    }
    if (byte == '>' && raw && brackets == 2) return {i - 2, Unfit::kCdataEnd};
    brackets = byte == ']' ? (brackets < 2 ? brackets + 1 : 2) : 0;
  }
  return {};
}

}  // namespace

#if defined(__SSE2__)
// Every value of every row passes through here when a caller listens, and
// what makes one unfit is rare: sixteen bytes are looked at in one step for
// the bytes where it can begin ("&", "<" and ">" written raw, the bytes below
// 0x20 other than TAB, and those of 0x80 and above); every byte before the
// first of them is a plain character, and the rest is walked a character at
// a time. TABs fill a whole line's bytes, which a caller may look at at once.
UnfitAt FirstUnfit(std::string_view value, Written written) {
  const char* const begin = value.data();
  const std::size_t size = value.size();
  const __m128i amp = _mm_set1_epi8('&');
  const bool raw = written == Written::kRaw;
  const __m128i lt = raw ? _mm_set1_epi8('<') : amp;
  const __m128i gt = raw ? _mm_set1_epi8('>') : amp;
  const __m128i tab = _mm_set1_epi8('\t');
  const __m128i below_space = _mm_set1_epi8(0x1F);
  for (std::size_t at = 0; at < size; at += 16) {
    if (size - at < 16) {
      // The tail is read as the last sixteen bytes, when there are as many.
      if (size < 16) return FirstUnfitFrom(value, 0, written);
      at = size - 16;
    }
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin + at));
    const __m128i control = _mm_andnot_si128(
        _mm_cmpeq_epi8(v, tab), _mm_cmpeq_epi8(_mm_max_epu8(v, below_space), below_space));
    const __m128i marks = _mm_or_si128(_mm_cmpeq_epi8(v, amp),
                                       _mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmpeq_epi8(v, gt)));
    // (The sign bit of a byte is its own mark: 0x80 and above.)
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(v, _mm_or_si128(control, marks))));
    if (mask != 0) return FirstUnfitFrom(value, at + static_cast<std::size_t>(__builtin_ctz(mask)), written);
  }
  return {};
}
#else
UnfitAt FirstUnfit(std::string_view value, Written written) {
  return FirstUnfitFrom(value, 0, written);
}
#endif

}  // namespace quorvel::document

namespace quorvel::document {
namespace escape {
namespace {

// The entity of a bracket `c` ("<" or ">") as the four bytes of a word in
// memory order, made without a branch: brackets fall at random in real `mw`
// fields, where a branch per bracket would be mispredicted often. "<" is ">"
// with bit 1 clear, and "l" is "g" + 5.
void PutEntity(char c, char* out) {
  if constexpr (std::endian::native == std::endian::little) {
    const std::uint32_t gt = 0x3B746726;  // "&gt;" read as little-endian
    const std::uint32_t word =
        gt + (static_cast<std::uint32_t>(static_cast<unsigned char>(c) ^ '>') * 0x280);
    std::memcpy(out, &word, 4);
  } else {
    std::memcpy(out, c == '<' ? "&lt;" : "&gt;", 4);
  }
}

#if defined(__SSE2__)
// Escapes the `size` (at most 16) bytes at `p` into `out`; the 31 bytes from
// `p` on are readable. The bytes between brackets go sixteen at a time from
// wherever the last bracket left off, so that each bracket costs one copy and
// one entity, not a fresh look at its block.
char* Block(const char* p, unsigned size, char* out) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('<')), _mm_cmpeq_epi8(v, _mm_set1_epi8('>')))));
  mask &= (1u << size) - 1;
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
  unsigned from = 0;
  for (; mask != 0; mask &= mask - 1) {
    const unsigned at = static_cast<unsigned>(__builtin_ctz(mask));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + from)));
    out += at - from;
    PutEntity(p[at], out);
    out += 4;
    from = at + 1;
  }
  if (from != 0) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + from)));
  }
  return out + (size - from);
}

// The last bytes [p, end), fewer than 32, from a copy whose bytes past the
// text are never brackets.
char* Tail(const char* p, const char* end, char* out) {
  alignas(16) char rest[48] = {};
  const auto left = static_cast<unsigned>(end - p);
  if (left >= 16) {
    std::memcpy(rest, p, 16);
    std::memcpy(rest + left - 16, end - 16, 16);
    out = Block(rest, 16, out);
    return Block(rest + 16, left - 16, out);
  }
  // Fewer than sixteen: two moves of a fixed size each cover them.
  if (left >= 8) {
    std::memcpy(rest, p, 8);
    std::memcpy(rest + left - 8, end - 8, 8);
  } else if (left >= 4) {
    std::memcpy(rest, p, 4);
    std::memcpy(rest + left - 4, end - 4, 4);
  } else {
    for (unsigned i = 0; i < left; ++i) rest[i] = p[i];
  }
  return left == 0 ? out : Block(rest, left, out);
}

// For each pattern of brackets among eight bytes (bit i for byte i), the
// shuffle that spreads them out: byte i, or for a bracket "&", its letter
// (at i), "t" and ";" (at 8, 9 and 10 of the shuffled bytes); and the size
// written. Indices past the size are 0x80 (zero): those bytes are slack.
struct Expansion {
  alignas(16) std::array<std::array<std::uint8_t, 32>, 256> shuffle{};
  std::array<std::uint8_t, 256> size{};
};
constexpr Expansion kExpansion = [] {
  Expansion table;
  for (unsigned pattern = 0; pattern < 256; ++pattern) {
    auto& shuffle = table.shuffle[pattern];
    for (auto& index : shuffle) index = 0x80;
    unsigned at = 0;
    for (std::uint8_t i = 0; i < 8; ++i) {
      if ((pattern >> i & 1) == 0) {
        shuffle[at++] = i;
        continue;
      }
      for (const std::uint8_t index : {std::uint8_t{8}, i, std::uint8_t{9}, std::uint8_t{10}}) {
        shuffle[at++] = index;
      }
    }
    table.size[pattern] = static_cast<std::uint8_t>(at);
  }
  return table;
}();

// Escapes whole blocks of sixteen from `p` while `end` is that far: each
// bracket becomes its letter ("<" + 0x30 is "l", ">" + 0x29 is "g"), and each
// half of the block is spread out with "&", "t" and ";" by the shuffle of its
// pattern. Returns the end of the output; `from` is left at the first byte
// not escaped.
__attribute__((target("ssse3"))) char* Ssse3Blocks(const char*& from, const char* end, char* out) {
  const __m128i entity_bytes =
      _mm_setr_epi8('&', 't', ';', 0, 0, 0, 0, 0, '&', 't', ';', 0, 0, 0, 0, 0);
  // A copy of the position: the bytes stored might be it, as far as the
  // compiler knows, and it would be read back after every block.
  const char* p = from;
  for (; end - p >= 16; p += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i lt = _mm_cmpeq_epi8(v, _mm_set1_epi8('<'));
    const __m128i gt = _mm_cmpeq_epi8(v, _mm_set1_epi8('>'));
    const auto brackets = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(lt, gt)));
    const __m128i letters = _mm_add_epi8(v, _mm_or_si128(_mm_and_si128(lt, _mm_set1_epi8(0x30)),
                                                         _mm_and_si128(gt, _mm_set1_epi8(0x29))));
    const __m128i halves[2] = {_mm_unpacklo_epi64(letters, entity_bytes),
                               _mm_unpackhi_epi64(letters, entity_bytes)};
    for (unsigned half = 0; half < 2; ++half) {
      const unsigned pattern = (brackets >> (8 * half)) & 0xFF;
      const auto* shuffle = reinterpret_cast<const __m128i*>(kExpansion.shuffle[pattern].data());
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                       _mm_shuffle_epi8(halves[half], _mm_load_si128(shuffle)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16),
                       _mm_shuffle_epi8(halves[half], _mm_load_si128(shuffle + 1)));
      out += kExpansion.size[pattern];
    }
  }
  from = p;
  return out;
}
#endif

}  // namespace

#if defined(__SSE2__)
char* WithSse2(std::string_view text, char* out) {
  const char* p = text.data();
  const char* const end = p + text.size();
  // Blocks of sixteen while 31 bytes can be read.
  for (; end - p >= 32; p += 16) out = Block(p, 16, out);
  return Tail(p, end, out);
}

char* WithSsse3(std::string_view text, char* out) {
  if (!unescape::HasSsse3()) return WithSse2(text, out);
  const char* p = text.data();
  const char* const end = p + text.size();
  out = Ssse3Blocks(p, end, out);
  return Tail(p, end, out);
}
#else
char* WithSse2(std::string_view text, char* out) {
  for (const char c : text) {
    if (c == '<' || c == '>') {
      PutEntity(c, out);
      out += 4;
    } else {
      *out++ = c;
    }
  }
  return out;
}
char* WithSsse3(std::string_view text, char* out) { return WithSse2(text, out); }
#endif

}  // namespace escape

char* EscapeAngleBracketsInto(std::string_view text, char* out) {
  return escape::WithSsse3(text, out);
}

}  // namespace quorvel::document
