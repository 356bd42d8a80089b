#include "text/numbers.h"

#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/failure.h"
#include "text/ascii.h"
#include "text/scan.h"

namespace quorvel {
namespace {

std::size_t SkipLeadingSpaces(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  return i;
}

// The four bytes at `p` as one word, the first byte lowest.
std::uint32_t LoadFour(const char* p) {
  std::uint32_t word;
  std::memcpy(&word, p, 4);
  if constexpr (std::endian::native != std::endian::little) word = __builtin_bswap32(word);
  return word;
}

// The value of the four decimal digits at `p` into `value`, or false when a
// byte among them is no digit: as EightDecimalDigits does it, in one 32-bit
// word.
[[maybe_unused]] bool FourDecimalDigits(const char* p, std::uint32_t* value) {
  std::uint32_t word = LoadFour(p);
  constexpr std::uint32_t kHigh = 0xF0F0F0F0;
  constexpr std::uint32_t kThrees = 0x30303030;
  if ((word & kHigh) != kThrees || ((word + 0x06060606) & kHigh) != kThrees) return false;
  word -= kThrees;
  word = word * 10 + (word >> 8);
  *value = (word & 0xFF) * 100 + ((word >> 16) & 0xFF);
  return true;
}

// The value of the eight decimal digits at `p` into `value`, or false when
// a byte among them is no digit: all eight looked at and combined side by
// side in one word, a sy of nineteen digits taking two such steps. A 32-bit
// build, whose 64-bit products take three multiplications each, takes two
// words of four.
bool EightDecimalDigits(const char* p, std::uint32_t* value) {
  if constexpr (sizeof(void*) < sizeof(std::uint64_t)) {
    std::uint32_t high;
    std::uint32_t low;
    if (!FourDecimalDigits(p, &high) || !FourDecimalDigits(p + 4, &low)) return false;
    *value = high * 10000 + low;
    return true;
  }
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  if constexpr (std::endian::native != std::endian::little) word = __builtin_bswap64(word);
  // Each byte 0x30 to 0x39: its high half 3, and still 3 when 6 is added.
  constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0F0F0;
  constexpr std::uint64_t kThrees = 0x3030303030303030;
  if ((word & kHigh) != kThrees || ((word + 0x0606060606060606) & kHigh) != kThrees) return false;
  word -= kThrees;
  // Pairs of digits, then fours, then the eight: the first digit is the
  // lowest byte.
  word = word * 10 + (word >> 8);
  constexpr std::uint64_t kPairs = 0x000000FF000000FF;
  word = ((word & kPairs) * (100 + (std::uint64_t{1000000} << 32)) +
          ((word >> 16) & kPairs) * (1 + (std::uint64_t{10000} << 32))) >>
         32;
  *value = static_cast<std::uint32_t>(word);
  return true;
}

// Reads a run of one or more decimal digits whose value is at most `limit`
// (below 2^64). False when the run is empty, holds another byte or exceeds
// the limit. Leading zeros are free; nineteen significant digits always fit
// in 64 bits and twenty never lie within a limit, so the value is built
// unchecked and compared once, without a division (a library call per digit
// on a 32-bit build).
bool ReadDecimal(std::string_view digits, std::uint64_t limit, std::uint64_t* value) {
  if (digits.empty()) return false;
  const char* p = digits.data();
  const char* const end = p + digits.size();
  while (p < end && *p == '0') ++p;
  if (end - p > 19) return false;
  // The digits before the last eights first: seven at most, which a 32-bit
  // word holds.
  std::uint32_t head = 0;
  for (const char* const eights = p + (end - p) % 8; p < eights; ++p) {
    if (!IsAsciiDigit(*p)) return false;
    head = head * 10 + static_cast<unsigned>(*p - '0');
  }
  std::uint64_t v = head;
  for (; p < end; p += 8) {
    std::uint32_t eight;
    if (!EightDecimalDigits(p, &eight)) return false;
    v = v * 100000000 + eight;
  }
  if (v > limit) return false;
  *value = v;
  return true;
}

// The value of each byte as a hexadecimal digit, 0xFF for any other byte:
// for the digits that do not make up a step of eight.
constexpr auto kHexValues = [] {
  std::array<std::uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const int d = HexDigitValue(static_cast<char>(c));
    table[static_cast<std::size_t>(c)] = d < 0 ? 0xFF : static_cast<std::uint8_t>(d);
  }
  return table;
}();

// The eight bytes at `p` as one word, the first byte lowest.
std::uint64_t LoadEight(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  if constexpr (std::endian::native != std::endian::little) word = __builtin_bswap64(word);
  return word;
}

constexpr std::uint64_t kEveryByte = 0x0101010101010101;

// Below 0x80, adding 0x80 - c0 to a byte sets its high bit exactly when the
// byte is at least c0, without a carry into the next byte: in every byte of
// a word of any width at once.
template <typename Word>
Word AtLeast(Word word, unsigned c0) {
  return word + static_cast<Word>(kEveryByte) * (0x80 - c0);
}

// The high bits of the bytes of `word` that are hexadecimal digits, and of
// those that are letters among them, for a word of any width; false when a
// byte is no digit.
template <typename Word>
bool HexDigitBytes(Word word, Word* letter) {
  constexpr auto kHigh = static_cast<Word>(kEveryByte * 0x80);
  const Word digit = AtLeast(word, '0') & ~AtLeast(word, '9' + 1);
  const Word lower = word | static_cast<Word>(kEveryByte * 0x20);  // "A" to "F" as "a" to "f"
  *letter = AtLeast(lower, 'a') & ~AtLeast(lower, 'f' + 1) & kHigh;
  return (word & kHigh) == 0 && ((digit | *letter) & kHigh) == kHigh;
}

// The value of the four hexadecimal digits at `p` into `value`, or false
// when a byte among them is no digit: as EightHexDigits does it, in one
// 32-bit word.
[[maybe_unused]] bool FourHexDigits(const char* p, std::uint32_t* value) {
  const std::uint32_t word = LoadFour(p);
  std::uint32_t letter;
  if (!HexDigitBytes(word, &letter)) return false;
  std::uint32_t n = (word & 0x0F0F0F0F) + (letter >> 7) * 9;
  n = ((n << 4) + (n >> 8)) & 0x00FF00FF;
  *value = ((n << 8) + (n >> 16)) & 0xFFFF;
  return true;
}

// The value of the eight hexadecimal digits at `p` into `value`, or false
// when a byte among them is no digit: every returned row converts sixteen,
// so all eight are classified and combined side by side in one word, with
// no branch per digit; a 32-bit build, short of 64-bit registers, takes two
// words of four.
bool EightHexDigits(const char* p, std::uint32_t* value) {
  if constexpr (sizeof(void*) < sizeof(std::uint64_t)) {
    std::uint32_t high;
    std::uint32_t low;
    if (!FourHexDigits(p, &high) || !FourHexDigits(p + 4, &low)) return false;
    *value = high << 16 | low;
    return true;
  }
  const std::uint64_t word = LoadEight(p);
  std::uint64_t letter;
  if (!HexDigitBytes(word, &letter)) return false;
  // The low half of each byte, nine more for a letter; then pairs, fours
  // and the eight, the first digit the most significant.
  std::uint64_t n = (word & kEveryByte * 0x0F) + (letter >> 7) * 9;
  n = ((n << 4) + (n >> 8)) & 0x00FF00FF00FF00FF;
  n = ((n << 8) + (n >> 16)) & 0x0000FFFF0000FFFF;
  *value = static_cast<std::uint32_t>((n << 16) + (n >> 32));
  return true;
}

// The value of the sixteen hexadecimal digits at `p` into `value`, or false
// when a byte among them is no digit: a padded sy has sixteen, and one
// register classifies and combines them all (two words of eight without
// SSE2).
bool SixteenHexDigits(const char* p, std::uint64_t* value) {
#if defined(__SSE2__)
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  // Moved so that "0" (or "a", case folded) is the lowest signed byte: a
  // range is then one signed comparison, and no byte outside it wraps in.
  const __m128i digit =
      _mm_cmplt_epi8(_mm_add_epi8(bytes, _mm_set1_epi8(0x50)), _mm_set1_epi8(-128 + 10));
  const __m128i lower = _mm_or_si128(bytes, _mm_set1_epi8(0x20));  // "A" to "F" as "a" to "f"
  const __m128i letter =
      _mm_cmplt_epi8(_mm_add_epi8(lower, _mm_set1_epi8(0x1F)), _mm_set1_epi8(-128 + 6));
  if (_mm_movemask_epi8(_mm_or_si128(digit, letter)) != 0xFFFF) return false;
  // The low half of each byte, nine more for a letter; then each pair in one
  // 16-bit lane (the first digit shifted up, the second down, neither
  // leaving bits above the byte), the eight bytes most significant first.
  const __m128i nibbles = _mm_add_epi8(_mm_and_si128(bytes, _mm_set1_epi8(0x0F)),
                                       _mm_and_si128(letter, _mm_set1_epi8(9)));
  const __m128i pairs =
      _mm_or_si128(_mm_srli_epi16(_mm_slli_epi16(nibbles, 12), 8), _mm_srli_epi16(nibbles, 8));
  const __m128i packed = _mm_packus_epi16(pairs, pairs);
#if defined(__x86_64__)
  *value = __builtin_bswap64(static_cast<std::uint64_t>(_mm_cvtsi128_si64(packed)));
#else
  std::uint64_t big_endian;
  _mm_storel_epi64(reinterpret_cast<__m128i*>(&big_endian), packed);
  *value = __builtin_bswap64(big_endian);
#endif
  return true;
#else
  std::uint32_t high;
  std::uint32_t low;
  if (!EightHexDigits(p, &high) || !EightHexDigits(p + 8, &low)) return false;
  *value = std::uint64_t{high} << 32 | low;
  return true;
#endif
}

// The value of the `count` (below eight) hexadecimal digits at `p` shifted
// in below `value`, marking `bad` with the high half of any byte that is no
// digit.
std::uint64_t FewHexDigits(const char* p, std::size_t count, std::uint64_t value, unsigned* bad) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t d = kHexValues[static_cast<unsigned char>(p[i])];
    *bad |= d;
    value = (value << 4) | d;
  }
  return value;
}

// Reads a run of one or more hexadecimal digits whose value fits in `bits`
// (32 or 64) bits. False when the run is empty, holds another byte or does
// not fit. Leading zeros are free: only as many are passed over as keep the
// rest from fitting, eight at a time where they come in eights; what is left
// is read sixteen or eight digits a step, and only a shorter head one by one.
bool ReadHex(std::string_view digits, int bits, std::uint64_t* value) {
  if (digits.empty()) return false;
  const char* p = digits.data();
  const char* const end = p + digits.size();
  const auto most = static_cast<std::ptrdiff_t>(bits / 4);
  while (end - p > most && LoadEight(p) == kEveryByte * '0') p += 8;
  while (end - p > most && *p == '0') ++p;
  // Too many digits to fit, or a byte that is no digit among them.
  if (end - p > most) return false;
  const std::size_t count = static_cast<std::size_t>(end - p);
  if (count == 16) return SixteenHexDigits(p, value);
  const std::size_t head = count % 8;
  unsigned bad = 0;
  std::uint64_t v = FewHexDigits(p, head, 0, &bad);
  for (p += head; p < end; p += 8) {
    std::uint32_t eight;
    if (!EightHexDigits(p, &eight)) return false;
    v = (v << 32) | eight;
  }
  if (bad & 0xF0) return false;
  *value = v;
  return true;
}

bool HasHexPrefix0x(std::string_view text) {
  return text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

// Two's-complement negation without signed overflow.
std::uint64_t Negate(std::uint64_t magnitude) { return ~magnitude + 1; }

}  // namespace

std::int32_t ParseInt32(std::string_view text) {
  const std::string_view rest = text.substr(SkipLeadingSpaces(text));
  const char first = rest.empty() ? '\0' : rest[0];
  constexpr std::uint64_t kMax = (std::uint64_t{1} << 31) - 1;
  std::uint64_t value = 0;
  bool ok = false;
  if (first == '-') {
    ok = ReadDecimal(rest.substr(1), kMax + 1, &value);
    value = Negate(value);
  } else if (first == '+') {
    ok = ReadDecimal(rest.substr(1), kMax, &value);
  } else if (first == '$' || first == 'x' || first == 'X') {
    ok = ReadHex(rest.substr(1), 32, &value);
  } else if (HasHexPrefix0x(rest)) {
    ok = ReadHex(rest.substr(2), 32, &value);
  } else {
    ok = ReadDecimal(rest, kMax, &value);
  }
  if (!ok) RaiseNotValidInteger(text);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

bool TryParseInt64(std::string_view text, std::int64_t& result) {
  std::size_t i = SkipLeadingSpaces(text);
  const bool negative = i < text.size() && text[i] == '-';
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  const std::string_view rest = text.substr(i);
  constexpr std::uint64_t kMax = (std::uint64_t{1} << 63) - 1;
  std::uint64_t value = 0;
  bool ok = false;
  if (!rest.empty() && rest[0] == '$') {
    ok = ReadHex(rest.substr(1), 64, &value);
  } else if (HasHexPrefix0x(rest)) {
    ok = ReadHex(rest.substr(2), 64, &value);
  } else {
    ok = ReadDecimal(rest, negative ? kMax + 1 : kMax, &value);
  }
  if (!ok) return false;
  result = static_cast<std::int64_t>(negative ? Negate(value) : value);
  return true;
}

bool TryParseHex64(std::string_view digits, std::int64_t& result) {
  std::uint64_t value;
  // A sy is padded to sixteen digits, which fit whatever they are: read at
  // once, with no search for where the significant ones begin.
  const bool read =
      digits.size() == 16 ? SixteenHexDigits(digits.data(), &value) : ReadHex(digits, 64, &value);
  if (!read) return false;
  result = static_cast<std::int64_t>(value);
  return true;
}

std::int64_t ParseInt64(std::string_view text) {
  std::int64_t value;
  if (!TryParseInt64(text, value)) RaiseNotValidInteger(text);
  return value;
}

namespace {

// The sixteen hexadecimal digits of `pattern`, most significant first, into
// `out`: each row of a text file with a numeric sy converts one, so the
// digits are made side by side rather than a nibble a step.
void SixteenHexDigits(std::uint64_t pattern, char* out) {
#if defined(__SSE2__)
  // The bytes most significant first, each split into its two nibbles.
  const std::uint64_t big_endian = __builtin_bswap64(pattern);
  const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&big_endian));
  const __m128i low_nibble = _mm_set1_epi8(0x0F);
  const __m128i nibbles = _mm_unpacklo_epi8(_mm_and_si128(_mm_srli_epi16(bytes, 4), low_nibble),
                                            _mm_and_si128(bytes, low_nibble));
  // "0" to "9", and seven further on for "A" to "F".
  const __m128i letters =
      _mm_and_si128(_mm_cmpgt_epi8(nibbles, _mm_set1_epi8(9)), _mm_set1_epi8(7));
  const __m128i text = _mm_add_epi8(_mm_add_epi8(nibbles, _mm_set1_epi8('0')), letters);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), text);
#else
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int k = 0; k < 16; ++k) out[k] = kDigits[(pattern >> (4 * (15 - k))) & 0xF];
#endif
}

}  // namespace

NumberText FormatHex64(std::int64_t value, int min_digits) {
  const auto pattern = static_cast<std::uint64_t>(value);
  // The significant digits (one for zero), then as many as asked for.
  int count = pattern == 0 ? 1 : 16 - __builtin_clzll(pattern) / 4;
  if (count < min_digits) count = min_digits < 16 ? min_digits : 16;
  NumberText out;
  SixteenHexDigits(pattern, out.bytes);
  if (count < 16) std::memmove(out.bytes, out.bytes + 16 - count, static_cast<std::size_t>(count));
  out.size = static_cast<std::uint8_t>(count);
  return out;
}

namespace {

// Where words are 32 bits wide, decimals are made four digits to a word.
constexpr bool kNarrowWords = sizeof(void*) < sizeof(std::uint64_t);

// `word` stored at `at`, its lowest byte first.
void StoreFour(char* at, std::uint32_t word) {
  if constexpr (std::endian::native != std::endian::little) word = __builtin_bswap32(word);
  std::memcpy(at, &word, 4);
}
void StoreEight(char* at, std::uint64_t word) {
  if constexpr (std::endian::native != std::endian::little) word = __builtin_bswap64(word);
  std::memcpy(at, &word, 8);
}

// The four digits of `value` (below 10^4, zero-padded) as one word, the
// first digit the lowest byte: its pairs, then their digits, split side by
// side. Below 10^4, n * 10486 >> 20 is n / 100; below 100, n * 103 >> 10 is
// n / 10.
[[maybe_unused]] std::uint32_t FourDigits(std::uint32_t value) {
  const std::uint32_t hundreds = value * 10486 >> 20;
  const std::uint32_t pairs = hundreds | (value - hundreds * 100) << 16;
  const std::uint32_t tens = (pairs * 103 >> 10) & 0x000F000F;
  return (tens | (pairs - tens * 10) << 8) + 0x30303030;
}

// The eight digits of `value` (below 10^8, zero-padded) as one word, the
// first digit the lowest byte: its two halves of four digits, each made as
// FourDigits makes it, in the two halves of the word.
[[maybe_unused]] std::uint64_t EightDigitsWord(std::uint32_t value) {
  const std::uint32_t high = value / 10000;
  std::uint64_t fours = high | std::uint64_t{value - high * 10000} << 32;
  const std::uint64_t hundreds = (fours * 10486 >> 20) & 0x0000007F0000007F;
  const std::uint64_t pairs = hundreds | (fours - hundreds * 100) << 16;
  const std::uint64_t tens = (pairs * 103 >> 10) & 0x000F000F000F000F;
  return (tens | (pairs - tens * 10) << 8) + kEveryByte * '0';
}

// Writes the eight digits of `value` (below 10^8, zero-padded) at `at`.
void EightDigits(std::uint32_t value, char* at) {
  if constexpr (kNarrowWords) {
    const std::uint32_t high = value / 10000;
    StoreFour(at, FourDigits(high));
    StoreFour(at + 4, FourDigits(value - high * 10000));
  } else {
    StoreEight(at, EightDigitsWord(value));
  }
}

// Writes `value` at `at` without its leading zeros ("0" for zero), returning
// the end of the digits: they are made zero-padded, moved down past the
// zeros within the word and stored whole, so no byte is looked at alone. The
// bytes stored past the end are the caller's to overwrite. The zeros are
// counted from the lowest differing bit, the word's top bit standing in for
// a last digit that differs. Below 10^4 for the first, 10^8 for the second.
[[maybe_unused]] char* LeadingFour(std::uint32_t value, char* at) {
  const std::uint32_t digits = FourDigits(value);
  const unsigned zeros = LowestBit((digits ^ 0x30303030) | 0x80000000) / 8;
  StoreFour(at, digits >> (8 * zeros));
  return at + 4 - zeros;
}
[[maybe_unused]] char* LeadingEight(std::uint32_t value, char* at) {
  const std::uint64_t digits = EightDigitsWord(value);
  const unsigned zeros = LowestBit((digits ^ (kEveryByte * '0')) | std::uint64_t{1} << 63) / 8;
  StoreEight(at, digits >> (8 * zeros));
  return at + 8 - zeros;
}

// The same for any value below 10^8; one below 10^4 takes half the steps.
// Always inlined: for a short value the call would cost a third as much again.
[[gnu::always_inline]] inline char* LeadingDigits(std::uint32_t value, char* at) {
  if (value < 10000) return LeadingFour(value, at);
  if constexpr (!kNarrowWords) return LeadingEight(value, at);
  const std::uint32_t high = value / 10000;
  at = LeadingFour(high, at);
  StoreFour(at, FourDigits(value - high * 10000));
  return at + 4;
}

constexpr std::uint32_t kEightDigits = 100000000;

// n / 10^8 without a division, which a 32-bit build would hand to a library
// routine: 10^8 is 2^8 * 390625, and below 2^56 the quotient by 390625 is
// the product with 2^75 / 390625 rounded up, shifted down by 75.
std::uint64_t DivideBy1e8(std::uint64_t n) {
  constexpr std::uint64_t kReciprocal = 0x15798EE2308C39E;  // ceil(2^75 / 390625)
  const std::uint64_t a = n >> 8;
#if defined(__SIZEOF_INT128__)
  __extension__ using Wide = unsigned __int128;
  return static_cast<std::uint64_t>(static_cast<Wide>(a) * kReciprocal >> 75);
#else
  // A value that fits a 32-bit word takes one 32-bit multiplication.
  if (n >> 32 == 0) return static_cast<std::uint32_t>(n) / kEightDigits;
  // The product's high half from 32-bit halves: `a` is below 2^56 and the
  // reciprocal below 2^57, so the middle sum stays below 2^58, with no
  // carry to follow.
  const auto a_low = static_cast<std::uint32_t>(a);
  const auto a_high = static_cast<std::uint32_t>(a >> 32);
  constexpr auto k_low = static_cast<std::uint32_t>(kReciprocal);
  constexpr auto k_high = static_cast<std::uint32_t>(kReciprocal >> 32);
  const std::uint64_t middle = (std::uint64_t{a_low} * k_low >> 32) +
                               std::uint64_t{a_low} * k_high + std::uint64_t{a_high} * k_low;
  return (std::uint64_t{a_high} * k_high + (middle >> 32)) >> 11;
#endif
}

// n / 10^8 for n below 2^38 (any quotient of a 64-bit value by 10^8): n / 2^8
// fits 30 bits, and its product with 2^50 / 390625 rounded up (within 32
// bits) errs by less than 2^-20, too little to reach the next multiple of
// 390625. One 32 by 32-bit multiplication on either build.
std::uint32_t SmallDivideBy1e8(std::uint64_t n) {
  constexpr std::uint64_t kReciprocal = 2882303762;  // ceil(2^50 / 390625)
  return static_cast<std::uint32_t>(static_cast<std::uint32_t>(n >> 8) * kReciprocal >> 50);
}

// Writes `value` into `out` as FormatDecimal gives it.
[[gnu::always_inline]] inline void WriteDecimal(std::int64_t value, NumberText& out) {
  // Through the unsigned magnitude, so the most negative value is no special
  // case. The number is cut into pieces of eight digits, none with a 64-bit
  // division, and written straight into place: the first piece without its
  // leading zeros, those after it whole. Each piece's store may run past its
  // digits, at most to the 21st byte.
  std::uint64_t magnitude = static_cast<std::uint64_t>(value);
  if (value < 0) magnitude = Negate(magnitude);
  out.bytes[0] = '-';
  char* at = out.bytes + (value < 0 ? 1 : 0);
  if (magnitude < kEightDigits) {
    at = LeadingDigits(static_cast<std::uint32_t>(magnitude), at);
  } else {
    const std::uint64_t rest = DivideBy1e8(magnitude);
    if (rest < kEightDigits) {
      at = LeadingDigits(static_cast<std::uint32_t>(rest), at);
    } else {
      const std::uint32_t top = SmallDivideBy1e8(rest);  // below 10^4
      at = LeadingDigits(top, at);
      EightDigits(static_cast<std::uint32_t>(rest) - top * kEightDigits, at);
      at += 8;
    }
    // The remainders below 10^8 are exact in 32-bit arithmetic.
    EightDigits(
        static_cast<std::uint32_t>(magnitude) - static_cast<std::uint32_t>(rest) * kEightDigits,
        at);
    at += 8;
  }
  out.size = static_cast<std::uint8_t>(at - out.bytes);
}

}  // namespace

NumberText FormatDecimal(std::int64_t value) {
  NumberText out;
  WriteDecimal(value, out);
  return out;
}

bool HexToDecimal(std::string_view digits, NumberText& decimal) {
  std::int64_t value;
  if (!TryParseHex64(digits, value)) return false;
  WriteDecimal(value, decimal);
  return true;
}

NumberText FormatYyyymmdd(int year, int month, int day) {
  NumberText out;
  const int parts[3][2] = {{year, 4}, {month, 2}, {day, 2}};
  for (const auto& [value, width] : parts) {
    int v = value;
    for (int k = width - 1; k >= 0; --k, v /= 10)
      out.bytes[out.size + k] = static_cast<char>('0' + v % 10);
    out.size = static_cast<std::uint8_t>(out.size + width);
  }
  return out;
}

}  // namespace quorvel
