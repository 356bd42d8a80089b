// Byte classes for ASCII work on GBK text.
//
// Deliberately not <cctype>: GBK bytes are negative `char`s, on which the
// <cctype> functions are undefined, and their answers would depend on the
// locale. These take the byte as unsigned and never look at a locale.
#ifndef QUORVEL_TEXT_ASCII_H
#define QUORVEL_TEXT_ASCII_H

namespace quorvel {

constexpr bool IsAsciiDigit(char c) {
  return static_cast<unsigned>(static_cast<unsigned char>(c)) - unsigned{'0'} < 10u;
}

// The value of a hexadecimal digit of either case, or -1 for any other byte.
constexpr int HexDigitValue(char c) {
  const unsigned u = static_cast<unsigned char>(c);
  if (u - unsigned{'0'} < 10u) return static_cast<int>(u - unsigned{'0'});
  if (u - unsigned{'A'} < 6u) return static_cast<int>(u - unsigned{'A'}) + 10;
  if (u - unsigned{'a'} < 6u) return static_cast<int>(u - unsigned{'a'}) + 10;
  return -1;
}

}  // namespace quorvel

#endif  // QUORVEL_TEXT_ASCII_H
