// Integer parsing and formatting on byte strings.
//
// The parses accept exactly the forms described below and raise
// "'<text>' is not a valid integer value" for anything else, the whole text
// as given in the message. The formats write into a small fixed buffer, so
// turning a number into text never allocates.
#ifndef QUORVEL_TEXT_NUMBERS_H
#define QUORVEL_TEXT_NUMBERS_H

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorvel {

// A short text held by value: the result of the formats below.
struct NumberText {
  char bytes[24];
  std::uint8_t size = 0;
  std::string_view view() const { return {bytes, size}; }
};

// Leading spaces (0x20 only), then one of:
//   "-" or "+" and decimal digits (no hexadecimal after a sign);
//   "$", "x", "X", "0x" or "0X" and hexadecimal digits of either case, below
//   2^32, the 32-bit pattern read as signed ("$FFFFFFFF" is -1);
//   decimal digits.
// Decimal values must lie in the signed 32-bit range. Leading zeros are free.
// Anything else fails, trailing spaces and the empty text included.
std::int32_t ParseInt32(std::string_view text);

// Leading spaces (0x20 only), an optional "-" or "+", then either "$", "0x"
// or "0X" and hexadecimal digits below 2^64 (the 64-bit pattern read as
// signed, negated when "-" was given), or decimal digits within the signed
// 64-bit range. Unlike ParseInt32, "x" alone is no prefix. Leading zeros are
// free. Anything else fails.
std::int64_t ParseInt64(std::string_view text);

// ParseInt64 that reports a rejected text by returning false (leaving
// `value` as it was) instead of raising.
bool TryParseInt64(std::string_view text, std::int64_t& value);

// What ParseInt64 gives for "$" + `digits`, without joining them: one or
// more hexadecimal digits of either case, below 2^64, the pattern read as
// signed. False (leaving `value` as it was) for anything else.
bool TryParseHex64(std::string_view digits, std::int64_t& value);

// The value's two's-complement pattern in upper-case hexadecimal, padded on
// the left with "0" to `min_digits` (1 to 16): 255 gives "00000000000000FF"
// with 16 digits, -1 gives sixteen "F".
NumberText FormatHex64(std::int64_t value, int min_digits);

// Signed decimal: "-" before a negative value, no "+", no leading zeros, no
// grouping. The most negative values come out whole.
NumberText FormatDecimal(std::int64_t value);

// FormatDecimal of the value TryParseHex64 reads from `digits`, written into
// `decimal`; false (leaving `decimal` as it was) where TryParseHex64 fails.
// One call for what every returned row does with its sy.
bool HexToDecimal(std::string_view digits, NumberText& decimal);

// The numbers 1, 2, 3, ... in turn as FormatDecimal writes them, each made
// from the one before (one digit changes, mostly), for the row numbers of a
// document. Up to 10^19 - 1.
class DecimalCounter {
 public:
  // Steps on to the next number.
  void Next() {
    char* p = digits_ + kDigits - 1;
    while (*p == '9') *p-- = '0';
    ++*p;
    const auto at = static_cast<std::size_t>(p - digits_);
    if (at < first_) first_ = at;
  }
  std::string_view view() const { return {digits_ + first_, kDigits - first_}; }
  // Where the bytes that may be read from view().data() on end: past the
  // digits, so that sixteen of them may always be read.
  const char* readable_end() const { return digits_ + sizeof digits_; }

 private:
  static constexpr std::size_t kDigits = 19;
  char digits_[kDigits + 16] = "0000000000000000000";
  std::size_t first_ = kDigits;
};

// A calendar date as eight digits "yyyymmdd", each part zero-padded (5 March
// 2027 gives "20270305"), whatever the locale. Year 0-9999, month 1-12, day
// 1-31.
NumberText FormatYyyymmdd(int year, int month, int day);

}  // namespace quorvel

#endif  // QUORVEL_TEXT_NUMBERS_H
