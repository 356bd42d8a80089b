// UTF-8 read one character at a time, for diagnostics: where a text stops
// being UTF-8, which character stands at a position, which column that is.
// The conversions themselves go through the system's converter (charset.h).
//
// Valid UTF-8 here is RFC 3629's: the shortest form only, no surrogates
// (U+D800-U+DFFF), nothing above U+10FFFF.
#ifndef QUORVEL_TOOLS_CHARSET_UTF8_H
#define QUORVEL_TOOLS_CHARSET_UTF8_H

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel::cli {

// The character at the start of `text`: its code point and byte length, or
// a length of 0 when the bytes there are not a valid character (also for an
// empty text, and for a sequence cut short by the text's end).
struct Utf8Char {
  char32_t code = 0;
  std::size_t size = 0;
};
Utf8Char DecodeUtf8(std::string_view text);

// The offset of the first byte of `text` that does not begin a valid
// character; npos when the whole text is valid UTF-8.
std::size_t FindInvalidUtf8(std::string_view text);

// How many characters the first `offset` bytes of `text` hold, each invalid
// byte counting as one: the 1-based column of the byte at `offset` is this
// plus one.
std::size_t CountCharacters(std::string_view text, std::size_t offset);

// The offset of character `index` (0-based, counted as CountCharacters does).
std::size_t OffsetOfCharacter(std::string_view text, std::size_t index);

// Whether `text` is valid UTF-8 holding a byte above 0x7F: a text that is
// most likely UTF-8 (GBK text seldom passes).
bool LooksUtf8(std::string_view text);

// "U+1F600": at least four upper-case hexadecimal digits.
std::string CodePointName(char32_t code);

// The 3-byte UTF-8 byte order mark.
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_CHARSET_UTF8_H
