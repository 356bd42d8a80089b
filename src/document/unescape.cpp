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

#include "common/copy.h"
#include "common/entry.h"
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
// as vectors of 0xFF bytes: `entities`, and `lts` where it is "&lt;";
// `amps` where an "&" stands.
struct BlockEntities {
  __m128i entities;
  __m128i lts;
  __m128i amps;
};
inline BlockEntities Classify(const char* block) {
  const __m128i after = Load(block + 1);
  const __m128i lts = _mm_cmpeq_epi8(after, _mm_set1_epi8('l'));
  const __m128i letter = _mm_or_si128(lts, _mm_cmpeq_epi8(after, _mm_set1_epi8('g')));
  const __m128i tail = _mm_and_si128(_mm_cmpeq_epi8(Load(block + 2), _mm_set1_epi8('t')),
                                     _mm_cmpeq_epi8(Load(block + 3), _mm_set1_epi8(';')));
  const __m128i amps = _mm_cmpeq_epi8(Load(block), _mm_set1_epi8('&'));
  return {_mm_and_si128(_mm_and_si128(amps, letter), tail), lts, amps};
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
    const unsigned amps = MaskOf(found.amps) & inside;
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
// front, in order, for the low and for the high half of a block, and how
// many there are.
struct Compaction {
  alignas(16) std::uint8_t shuffle[256][8];
  alignas(16) std::uint8_t high_shuffle[256][8];
  std::uint8_t count[256];
  constexpr Compaction() : shuffle{}, high_shuffle{}, count{} {
    for (int mask = 0; mask < 256; ++mask) {
      int n = 0;
      for (int i = 0; i < 8; ++i) {
        if (mask & (1 << i)) {
          shuffle[mask][n] = static_cast<std::uint8_t>(i);
          high_shuffle[mask][n++] = static_cast<std::uint8_t>(8 + i);
        }
      }
      for (int i = n; i < 8; ++i) {
        shuffle[mask][i] = 0x80;  // a zero byte
        high_shuffle[mask][i] = 0x80;
      }
      count[mask] = static_cast<std::uint8_t>(n);
    }
  }
};
constexpr Compaction kCompaction;

// By the low nibble of the byte after an "&", which pshufb indexes by: the
// letter an entity has there ("g" is 0x67, "l" 0x6C) and 0x80 elsewhere,
// which no byte below 0x80 equals (for a byte of 0x80 or more pshufb gives
// zero, which that byte is not either); and how far an entity's "&" moves up
// to its bracket: "<" is 0x16 above "&", ">" 0x18.
constexpr std::array<char, 16> ByLetterNibble(char none, char g, char l) {
  std::array<char, 16> table{};
  table.fill(none);
  table['g' & 15] = g;
  table['l' & 15] = l;
  return table;
}
alignas(16) constexpr auto kEntityLetters = ByLetterNibble(static_cast<char>(0x80), 'g', 'l');
alignas(16) constexpr auto kBracketSteps = ByLetterNibble(0, '>' - '&', '<' - '&');

// The sixteen bytes `bytes` unescaped with SSSE3, those of `inside` kept,
// `next` the sixteen after them (zeros past the text's end). The block is
// rewritten at once (an entity's "&" becomes its bracket), the three bytes
// after each entity are dropped, and the kept bytes are moved together with
// a shuffle, eight at a time. No branch depends on where the entities are,
// and the bytes after the block come from `next` in registers: loads that
// straddle the block, one for each of the three, cost the 32-bit build half
// its speed here. `carry` holds the entity tail that runs past the block
// before into this one, and becomes this block's.
__attribute__((target("ssse3"), always_inline)) inline char* Ssse3Block(__m128i bytes, __m128i next,
                                                                        unsigned inside, char* out,
                                                                        unsigned& carry) {
  const __m128i after = _mm_alignr_epi8(next, bytes, 1);
  const __m128i letters = Load(kEntityLetters.data());
  const __m128i letter = _mm_cmpeq_epi8(_mm_shuffle_epi8(letters, after), after);
  const __m128i amps = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('&'));
  // "t;" as the word two bytes load as: compared at the even positions from
  // two bytes on, and at the odd ones from three, each answer moved to the
  // byte of the "&" it belongs to.
  const __m128i tail_word = _mm_set1_epi16(static_cast<short>('t' | ';' << 8));
  const __m128i even =
      _mm_srli_epi16(_mm_cmpeq_epi16(_mm_alignr_epi8(next, bytes, 2), tail_word), 8);
  const __m128i odd =
      _mm_slli_epi16(_mm_cmpeq_epi16(_mm_alignr_epi8(next, bytes, 3), tail_word), 8);
  const __m128i found = _mm_and_si128(_mm_and_si128(amps, letter), _mm_or_si128(even, odd));
  const __m128i step = _mm_shuffle_epi8(Load(kBracketSteps.data()), after);
  const __m128i unescaped = _mm_add_epi8(bytes, _mm_and_si128(found, step));
  const unsigned entities = MaskOf(found) & inside;
  // Entities lie four bytes apart at least, so the three bits after each
  // (its dropped bytes) never meet another's: together, 14 times the bits.
  const unsigned dropped = entities * 14 | carry;
  carry = (dropped >> 16) & 7;  // the entity tail in the next block
  const unsigned kept = ~dropped & inside;
  const unsigned low = kept & 0xFF;
  const unsigned high = (kept >> 8) & 0xFF;
  const __m128i low_shuffle =
      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kCompaction.shuffle[low]));
  const __m128i high_shuffle =
      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kCompaction.high_shuffle[high]));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(unescaped, low_shuffle));
  out += kCompaction.count[low];
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(unescaped, high_shuffle));
  return out + kCompaction.count[high];
}

// The shuffles that move sixteen bytes down by 0 to 16 places, zeros after.
constexpr auto kShiftsDown = [] {
  std::array<std::array<std::uint8_t, 16>, 17> table{};
  for (int by = 0; by <= 16; ++by) {
    for (int j = 0; j < 16; ++j)
      table[by][j] = static_cast<std::uint8_t>(j + by < 16 ? j + by : 0x80);
  }
  return table;
}();

// Unescapes [p, end), a text of sixteen bytes or more, a block of sixteen at
// a time, each loaded once. Nothing outside the text is read: the 0 to 15
// bytes after the last whole block come from the text's last sixteen,
// shifted down.
__attribute__((target("ssse3"))) char* Ssse3Long(const char* p, const char* end, char* out) {
  unsigned carry = 0;
  __m128i block = Load(p);
  for (; end - p >= 32; p += 16) {
    const __m128i next = Load(p + 16);
    out = Ssse3Block(block, next, 0xFFFF, out, carry);
    block = next;
  }
  const auto rest = static_cast<unsigned>(end - p) - 16;  // the bytes after `block`
  const __m128i last = _mm_shuffle_epi8(
      Load(end - 16), Load(reinterpret_cast<const char*>(kShiftsDown[16 - rest].data())));
  out = Ssse3Block(block, last, 0xFFFF, out, carry);
  if (rest == 0) return out;
  return Ssse3Block(last, _mm_setzero_si128(), (1u << rest) - 1, out, carry);
}

// For a text of 8 to 16 bytes given as its first eight bytes and its last
// eight side by side: the shuffle that moves each byte into its place, with
// zeros after the last.
constexpr auto kShortShuffles = [] {
  std::array<std::array<std::uint8_t, 16>, 9> table{};
  for (int size = 8; size <= 16; ++size) {
    for (int j = 0; j < 16; ++j) {
      table[size - 8][j] = static_cast<std::uint8_t>(j < 8 ? j : j < size ? j + 16 - size : 0x80);
    }
  }
  return table;
}();

// The bytes of a text shorter than eight, zeros after them, from a padded
// copy: out of line, so that the longer ones need no stack frame.
[[gnu::noinline]] __m128i FewBytes(const char* text, std::size_t size) {
  alignas(16) char padded[16] = {};
  if (size >= 8) __builtin_unreachable();  // which leaves CopyBytes its short moves alone
  CopyBytes(padded, text, size);
  return Load(padded);
}

// Unescapes a text of at most sixteen bytes (most `mw` values of a short
// document) in one block, zeros after it: from its first and last eight
// bytes where it has eight.
__attribute__((target("ssse3"))) char* Ssse3Short(const char* text, std::size_t size, char* out) {
  __m128i bytes;
  if (size >= 8) {
    const auto eight = [](const char* at) {
      return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(at));
    };
    bytes = _mm_shuffle_epi8(_mm_unpacklo_epi64(eight(text), eight(text + size - 8)),
                             Load(reinterpret_cast<const char*>(kShortShuffles[size - 8].data())));
  } else {
    bytes = FewBytes(text, size);
  }
  unsigned carry = 0;
  return Ssse3Block(bytes, _mm_setzero_si128(), (1u << size) - 1, out, carry);
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
// Out of line, so that the SSSE3 path for short texts needs no stack frame.
[[gnu::noinline]] char* WithSse2(std::string_view text, char* out) {
  const char* p = text.data();
  const char* const end = p + text.size();
  // The text's last bytes are unescaped from a zero-padded copy, so that
  // every block may be read whole.
  constexpr std::size_t kTail = 48;
  if (text.size() > kTail) out = Sse2Blocks(p, end - kTail, out);
  char padded[kTail + 64] = {};
  const auto rest = static_cast<std::size_t>(end - p);  // at most kTail
  CopyBytes(padded, p, rest);
  const char* from = padded;
  return Sse2Blocks(from, padded + rest, out);
}

namespace {
// Looked up as the library loads: a local static would have its first use
// checked on every call, and keep the shortest texts' calls from going
// without a stack frame. A call made before this is set (from another
// object's start-up) takes the SSE2 path, which gives the same bytes. The
// loader runs this on a stack of its own.
QUORVEL_REALIGNS_STACK bool DetectSsse3() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3") != 0;
}
const bool kHasSsse3 = DetectSsse3();
}  // namespace

bool HasSsse3() { return kHasSsse3; }

char* WithSsse3(std::string_view text, char* out) {
  if (!HasSsse3()) return WithSse2(text, out);
  const char* const begin = text.data();
  const std::size_t size = text.size();
  if (size <= 16) return Ssse3Short(begin, size, out);
  return Ssse3Long(begin, begin + size, out);
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
