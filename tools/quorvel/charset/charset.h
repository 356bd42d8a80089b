// Conversions between the character sets the command line meets, through the
// system's own converter: iconv natively; MultiByteToWideChar and
// WideCharToMultiByte on Windows (code page 936 for GBK). No table of our
// own, and nothing is ever substituted: a character that cannot be carried
// over stops the conversion at that character.
//
// charset_iconv.cpp and charset_win32.cpp implement this; the build picks one.
#ifndef QUORVEL_TOOLS_CHARSET_CHARSET_H
#define QUORVEL_TOOLS_CHARSET_CHARSET_H

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel::cli {

enum class Charset {
  kGbk,  // the document's character set (Windows code page 936)
  kUtf8,
  kAnsi,     // Windows only: the system's ANSI code page, which file names use
  kUtf16Le,  // only ever converted from
  kUtf16Be,
};

inline bool IsUtf16(Charset charset) {
  return charset == Charset::kUtf16Le || charset == Charset::kUtf16Be;
}

// The UTF-16 character at the start of `bytes` (a surrogate pair whole):
// its code point and byte length, or a length of 0 when the units there are
// no character (a lone surrogate, a unit cut short).
struct Utf16Char {
  char32_t code = 0;
  std::size_t size = 0;
};
Utf16Char DecodeUtf16(std::string_view bytes, bool big_endian);

class Converter {
 public:
  Converter(Charset from, Charset to);
  ~Converter();
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // False when the system offers no converter between the two.
  bool ok() const;

  // Appends `in`, converted, to `*out`. False when a character of `in` is not
  // valid in the source set or has no form in the target set: `*bad` is then
  // the offset of that character's first byte in `in`, and what was appended
  // is unspecified. An empty `in` appends nothing and succeeds, even without
  // a converter; any other `in` fails at offset 0 without one.
  bool Append(std::string_view in, std::string* out, std::size_t* bad);

 private:
  Charset from_;
  Charset to_;
  void* state_ = nullptr;
};

// What stands at the offset where a conversion stopped, for a message:
// "U+1F600 has no GBK form", "invalid UTF-8 (byte 0xC3)", "bytes 0x81 0x20
// are not GBK". `form` names what the character lacks ("GBK form", "form in
// code page 1252").
std::string DescribeStop(Charset from, std::string_view in, std::size_t bad, std::string_view form);

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_CHARSET_CHARSET_H
