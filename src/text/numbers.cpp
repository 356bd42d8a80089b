#include "text/numbers.h"

#include <array>

#include "common/failure.h"
#include "text/ascii.h"

namespace quorvel {
namespace {

std::size_t SkipLeadingSpaces(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  return i;
}

// Reads a run of one or more decimal digits whose value is at most `limit`.
// False when the run is empty, holds another byte or exceeds the limit; the
// check comes before each step, so no intermediate value can wrap.
bool ReadDecimal(std::string_view digits, std::uint64_t limit, std::uint64_t* value) {
  if (digits.empty()) return false;
  std::uint64_t v = 0;
  for (const char c : digits) {
    if (!IsAsciiDigit(c)) return false;
    const unsigned d = static_cast<unsigned>(c - '0');
    if (v > (limit - d) / 10) return false;
    v = v * 10 + d;
  }
  *value = v;
  return true;
}

// Reads a run of one or more hexadecimal digits whose value fits in `bits`
// bits (leading zeros are free). False when the run is empty, holds another
// byte or does not fit.
// The value of each byte as a hexadecimal digit, 0xFF for any other byte: a
// table, since every returned row converts sixteen digits.
constexpr auto kHexValues = [] {
  std::array<std::uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const int d = HexDigitValue(static_cast<char>(c));
    table[static_cast<std::size_t>(c)] = d < 0 ? 0xFF : static_cast<std::uint8_t>(d);
  }
  return table;
}();

bool ReadHex(std::string_view digits, int bits, std::uint64_t* value) {
  if (digits.empty()) return false;
  // Leading zeros are free; then a value of `bits` bits has at most bits / 4
  // digits. Every returned row converts sixteen of them, so the digits are
  // taken without a branch each: a byte that is no digit marks `bad`, and
  // the two halves of the number build up side by side.
  std::size_t first = 0;
  while (first < digits.size() && digits[first] == '0') ++first;
  const std::size_t count = digits.size() - first;
  if (count > static_cast<std::size_t>(bits / 4)) {
    // Too many digits to fit, or a byte that is no digit among them.
    return false;
  }
  const char* const p = digits.data() + first;
  const std::size_t split = count > 8 ? count - 8 : 0;
  std::uint64_t high = 0;
  std::uint64_t low = 0;
  unsigned bad = 0;
  for (std::size_t i = 0; i < split; ++i) {
    const std::uint8_t d = kHexValues[static_cast<unsigned char>(p[i])];
    bad |= d;
    high = (high << 4) | d;
  }
  for (std::size_t i = split; i < count; ++i) {
    const std::uint8_t d = kHexValues[static_cast<unsigned char>(p[i])];
    bad |= d;
    low = (low << 4) | d;
  }
  if (bad & 0xF0) return false;
  *value = (high << 32) | low;
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
  if (!ReadHex(digits, 64, &value)) return false;
  result = static_cast<std::int64_t>(value);
  return true;
}

std::int64_t ParseInt64(std::string_view text) {
  std::int64_t value;
  if (!TryParseInt64(text, value)) RaiseNotValidInteger(text);
  return value;
}

NumberText FormatHex64(std::int64_t value, int min_digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const auto pattern = static_cast<std::uint64_t>(value);
  // The significant digits (one for zero), then as many as asked for.
  int count = pattern == 0 ? 1 : 16 - __builtin_clzll(pattern) / 4;
  if (count < min_digits) count = min_digits < 16 ? min_digits : 16;
  NumberText out;
  for (int k = 0; k < count; ++k) out.bytes[k] = kDigits[(pattern >> (4 * (count - 1 - k))) & 0xF];
  out.size = static_cast<std::uint8_t>(count);
  return out;
}

namespace {

constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the eight digits of `value` (below 10^8, zero-padded) ending at
// `end`, two a step, in 32-bit arithmetic.
void EightDigits(std::uint32_t value, char* end) {
  for (int k = 0; k < 4; ++k) {
    const std::uint32_t pair = (value % 100) * 2;
    value /= 100;
    *--end = kPairs[pair + 1];
    *--end = kPairs[pair];
  }
}

}  // namespace

NumberText FormatDecimal(std::int64_t value) {
  // Through the unsigned magnitude, so the most negative value is no special
  // case. The number is cut into pieces of eight digits, each written in
  // 32-bit arithmetic, the pieces independent of one another.
  std::uint64_t magnitude = static_cast<std::uint64_t>(value);
  if (value < 0) magnitude = Negate(magnitude);
  char digits[24];
  char* const end = digits + sizeof digits;
  const char* first = end - 8;
  EightDigits(static_cast<std::uint32_t>(magnitude % 100000000), end);
  if (magnitude >= 100000000) {
    const std::uint64_t rest = magnitude / 100000000;
    EightDigits(static_cast<std::uint32_t>(rest % 100000000), end - 8);
    first = end - 16;
    if (rest >= 100000000) {
      EightDigits(static_cast<std::uint32_t>(rest / 100000000), end - 16);  // below 10^4
      first = end - 24;
    }
  }
  // Without leading zeros; zero itself is "0".
  while (first < end - 1 && *first == '0') ++first;
  NumberText out;
  int k = 0;
  if (value < 0) out.bytes[k++] = '-';
  for (const char* p = first; p < end; ++p) out.bytes[k++] = *p;
  out.size = static_cast<std::uint8_t>(k);
  return out;
}

NumberText FormatYyyymmdd(int year, int month, int day) {
  NumberText out;
  const int parts[3][2] = {{year, 4}, {month, 2}, {day, 2}};
  for (const auto& [value, width] : parts) {
    int v = value;
    for (int k = width - 1; k >= 0; --k, v /= 10) out.bytes[out.size + k] = static_cast<char>('0' + v % 10);
    out.size = static_cast<std::uint8_t>(out.size + width);
  }
  return out;
}

}  // namespace quorvel
