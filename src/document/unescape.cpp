// UnescapeAngleBracketsInto and its implementations.
//
// In a returned document every `mw` value is dense with "&lt;" and "&gt;",
// which fall at random: a branch per entity would be mispredicted half the
// time, and a search that restarts after each entity waits on the one before.
// The vector versions classify sixteen bytes at once (where an "&" stands,
// whether an entity begins there, and which) and work from those masks.
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "document/xml_bytes.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#include <tmmintrin.h>
#endif

namespace quorvel::document::unescape {
namespace {

// The two entities as the words that four bytes load as.
constexpr std::uint32_t kLtWord =
    std::bit_cast<std::uint32_t>(std::array<char, 4>{'&', 'l', 't', ';'});
constexpr std::uint32_t kGtWord =
    std::bit_cast<std::uint32_t>(std::array<char, 4>{'&', 'g', 't', ';'});

#if defined(__SSE2__)
__m128i Load(const char* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }
unsigned MaskOf(__m128i bytes) { return static_cast<unsigned>(_mm_movemask_epi8(bytes)); }

// Where, among the sixteen positions from `block`, an entity begins (the
// bytes past the text's end are never "t" and ";": callers pad with zeros),
// as vectors of 0xFF bytes: `entities`, and `lts` where it is "&lt;".
struct BlockEntities {
  __m128i entities;
  __m128i lts;
};
BlockEntities Classify(const char* block) {
  const __m128i after = Load(block + 1);
  const __m128i lts = _mm_cmpeq_epi8(after, _mm_set1_epi8('l'));
  const __m128i letter = _mm_or_si128(lts, _mm_cmpeq_epi8(after, _mm_set1_epi8('g')));
  const __m128i tail = _mm_and_si128(_mm_cmpeq_epi8(Load(block + 2), _mm_set1_epi8('t')),
                                     _mm_cmpeq_epi8(Load(block + 3), _mm_set1_epi8(';')));
  const __m128i amp = _mm_cmpeq_epi8(Load(block), _mm_set1_epi8('&'));
  return {_mm_and_si128(_mm_and_si128(amp, letter), tail), lts};
}

// Unescapes from `p` up to `stop`, a block of sixteen at a time, each "&"
// reached from the block's masks and the bytes before it copied sixteen at a
// time. Memory is readable 40 bytes past every block start below `stop`.
// Moves `p` past what it took (an entity that begins before `stop` is taken
// whole) and returns the end of the output.
char* Sse2Blocks(const char*& p, const char* stop, char* out) {
  auto copy16 = [&](const char* from) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), Load(from));
  };
  while (p < stop) {
    const char* const block = p;
    const char* const block_end = stop - block < 16 ? stop : block + 16;
    const unsigned inside = (1u << (block_end - block)) - 1;
    const BlockEntities found = Classify(block);
    const unsigned amps = MaskOf(_mm_cmpeq_epi8(Load(block), _mm_set1_epi8('&'))) & inside;
    const unsigned entities = MaskOf(found.entities);
    const unsigned lts = MaskOf(found.lts);
    for (unsigned m = amps; m != 0; m &= m - 1) {
      const unsigned i = static_cast<unsigned>(__builtin_ctz(m));
      const char* const at = block + i;
      copy16(p);
      out += at - p;
      const bool entity = (entities >> i) & 1;
      *out++ = !entity ? '&' : (lts >> i) & 1 ? '<' : '>';
      p = at + (entity ? 4 : 1);
    }
    if (p < block_end) {
      copy16(p);
      out += block_end - p;
      p = block_end;
    }
  }
  return out;
}

// For each mask of eight kept bytes: the shuffle that moves them to the
// front, in order, and how many there are.
struct Compaction {
  alignas(16) std::uint8_t shuffle[256][8];
  std::uint8_t count[256];
  constexpr Compaction() : shuffle{}, count{} {
    for (int mask = 0; mask < 256; ++mask) {
      int n = 0;
      for (int i = 0; i < 8; ++i) {
        if (mask & (1 << i)) shuffle[mask][n++] = static_cast<std::uint8_t>(i);
      }
      for (int i = n; i < 8; ++i) shuffle[mask][i] = 0x80;  // a zero byte
      count[mask] = static_cast<std::uint8_t>(n);
    }
  }
};
constexpr Compaction kCompaction;

// Unescapes the whole of [p, end) with SSSE3: each block of sixteen bytes is
// rewritten at once (an entity's "&" becomes its bracket), the three bytes
// after each entity are dropped, and the kept bytes are moved together with
// a shuffle, eight at a time. No branch depends on where the entities are.
// Memory is readable 19 bytes past every block start below `stop`; the
// entity tail that runs past the block is carried into the next.
__attribute__((target("ssse3"))) char* Ssse3Blocks(const char* p, const char* stop, char* out,
                                                   unsigned& carry) {
  const __m128i lt = _mm_set1_epi8('<');
  const __m128i gt = _mm_set1_epi8('>');
  for (; p < stop; p += 16) {
    const unsigned inside = stop - p < 16 ? (1u << (stop - p)) - 1 : 0xFFFF;
    const BlockEntities found = Classify(p);
    const __m128i bracket =
        _mm_or_si128(_mm_and_si128(found.lts, lt), _mm_andnot_si128(found.lts, gt));
    const __m128i bytes = _mm_or_si128(_mm_and_si128(found.entities, bracket),
                                       _mm_andnot_si128(found.entities, Load(p)));
    const unsigned entities = MaskOf(found.entities) & inside;
    const unsigned dropped = (entities << 1) | (entities << 2) | (entities << 3) | carry;
    carry = (dropped >> 16) & 7;  // the entity tail in the next block
    const unsigned kept = ~dropped & inside;
    const unsigned low = kept & 0xFF;
    const unsigned high = (kept >> 8) & 0xFF;
    const __m128i low_shuffle =
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kCompaction.shuffle[low]));
    // The high half's indices point at bytes 8-15: add 8 to every index but
    // the zeroing ones (0x80 + 8 still has its top bit).
    const __m128i high_shuffle =
        _mm_add_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(kCompaction.shuffle[high])),
                     _mm_set1_epi8(8));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(bytes, low_shuffle));
    out += kCompaction.count[low];
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(bytes, high_shuffle));
    out += kCompaction.count[high];
  }
  return out;
}
#endif

}  // namespace

char* Portable(std::string_view text, char* out) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    std::uint32_t word = 0;
    if (end - p >= 4) std::memcpy(&word, p, 4);
    const bool is_lt = word == kLtWord;
    const bool is_gt = word == kGtWord;
    *out++ = is_lt ? '<' : is_gt ? '>' : *p;
    p += is_lt || is_gt ? 4 : 1;
  }
  return out;
}

#if defined(__SSE2__)
char* WithSse2(std::string_view text, char* out) {
  const char* p = text.data();
  const char* const end = p + text.size();
  // The text's last bytes are unescaped from a zero-padded copy, so that
  // every block may be read whole.
  constexpr std::size_t kTail = 48;
  if (text.size() > kTail) out = Sse2Blocks(p, end - kTail, out);
  char padded[kTail + 64] = {};
  const auto rest = static_cast<std::size_t>(end - p);  // at most kTail
  std::memcpy(padded, p, rest);
  const char* from = padded;
  return Sse2Blocks(from, padded + rest, out);
}

bool HasSsse3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}

char* WithSsse3(std::string_view text, char* out) {
  if (!HasSsse3()) return WithSse2(text, out);
  const char* const begin = text.data();
  const std::size_t size = text.size();
  // Whole blocks from the text itself while 19 bytes can be read from each;
  // the rest from a zero-padded copy, the carried entity tail going on.
  const std::size_t body = size >= 19 ? (size - 19) / 16 * 16 + 16 : 0;
  unsigned carry = 0;
  out = Ssse3Blocks(begin, begin + (body < size ? body : size), out, carry);
  if (body >= size) return out;
  char padded[64] = {};
  const std::size_t rest = size - body;  // at most 34
  std::memcpy(padded, begin + body, rest);
  return Ssse3Blocks(padded, padded + rest, out, carry);
}
#else
char* WithSse2(std::string_view text, char* out) { return Portable(text, out); }
char* WithSsse3(std::string_view text, char* out) { return Portable(text, out); }
bool HasSsse3() { return false; }
#endif

}  // namespace quorvel::document::unescape

namespace quorvel::document {

char* UnescapeAngleBracketsInto(std::string_view text, char* out) {
  return unescape::WithSsse3(text, out);
}

}  // namespace quorvel::document
