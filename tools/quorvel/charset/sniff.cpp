#include "charset/sniff.h"

#include "charset/utf8.h"

namespace quorvel::cli {
namespace {

// The first character after blanks and control characters (0 when none),
// reading UTF-16 units or bytes.
char32_t FirstVisible(std::string_view bytes, std::optional<Charset> bom) {
  const bool utf16 = bom && IsUtf16(*bom);
  const std::size_t step = utf16 ? 2 : 1;
  for (std::size_t at = 0; at + step <= bytes.size(); at += step) {
    const char32_t c = utf16 ? DecodeUtf16(bytes.substr(at), *bom == Charset::kUtf16Be).code
                             : static_cast<unsigned char>(bytes[at]);
    if (c > 0x20) return c;
  }
  return 0;
}

}  // namespace

std::string_view ByteOrderMark(Charset charset) {
  switch (charset) {
    case Charset::kUtf8:
      return kUtf8Bom;
    case Charset::kUtf16Le:
      return "\xFF\xFE";
    case Charset::kUtf16Be:
      return "\xFE\xFF";
    default:
      return {};
  }
}

Head LookAtHead(std::string_view bytes, bool cut) {
  Head head;
  for (const Charset charset : {Charset::kUtf8, Charset::kUtf16Le, Charset::kUtf16Be}) {
    if (bytes.starts_with(ByteOrderMark(charset))) head.bom = charset;
  }
  if (head.bom) bytes.remove_prefix(ByteOrderMark(*head.bom).size());
  // The library takes a NUL for the end of the content; UTF-16 has many.
  if (!head.bom || !IsUtf16(*head.bom)) bytes = bytes.substr(0, bytes.find('\0'));
  const char32_t first = FirstVisible(bytes, head.bom);
  head.document = first == '<';
  head.blank = first == 0;
  if (head.bom) return head;
  // A head cut inside a character is still UTF-8 up to that character.
  const std::size_t bad = FindInvalidUtf8(bytes);
  const bool cut_inside = cut && bad != std::string_view::npos && bytes.size() - bad < 4;
  head.looks_utf8 = LooksUtf8(cut_inside ? bytes.substr(0, bad) : bytes);
  return head;
}

bool ReadHead(std::FILE* file, std::string* bytes) {
  bytes->assign(kHeadBytes, '\0');
  bytes->resize(std::fread(bytes->data(), 1, bytes->size(), file));
  return std::ferror(file) == 0;
}

}  // namespace quorvel::cli
