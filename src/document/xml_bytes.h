// Values as the document holds them: the escaping of mw, and what in a
// value XML parsers refuse.
//
// The format writes every value as it is, except that mw has its angle
// brackets written as entities (and read back the same way); so a value can
// make the document something an XML parser refuses. The bytes stay (hosts
// rely on them); this is where the library decides which ones a parser
// refuses, for a caller to be told.
#ifndef QUORVEL_DOCUMENT_XML_BYTES_H
#define QUORVEL_DOCUMENT_XML_BYTES_H

#include <cstddef>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorvel::document {

// How an element's value is written: mw escaped, every other value raw.
enum class Written { kRaw, kEscaped };

// Why a value makes the document one that XML parsers reject, or one whose
// lines no longer hold an element each.
enum class Unfit : unsigned char {
  kNone,
  kByte,       // "&" anywhere (it never begins an entity of ours), "<" written
               // raw, a control byte other than TAB, CR and LF
  kLineBreak,  // CR or LF: a parser keeps it, but the document is read a line
               // per element, and a parser reads a CR as an LF
  kCdataEnd,   // "]]>" written raw (the "]]" of it single-byte characters)
  kNotGbk,     // no GBK character begins here: the document says it is GBK
};

// The first place in `value`, written as `written`, that makes it unfit,
// and why; at is npos (and why kNone) when there is none. GBK: a byte
// below 0x80 is a character, and so is a lead byte 0x81-0xFE with the byte
// after it where iconv's GBK table has a character for the two (IsGbkPair);
// nothing else is. (That table also takes 0x80 alone, for the euro sign, as
// code page 936 does; GB18030 has no such byte, and a value keeps being
// told of it.)
struct UnfitAt {
  std::size_t at = std::string_view::npos;
  Unfit why = Unfit::kNone;
};
UnfitAt FirstUnfit(std::string_view value, Written written);

// Writes `text` into `out` with every ">" written as "&gt;" and every "<" as
// "&lt;"; nothing else changes: "&" stays, and "&gt;" already in the text is
// not recognised. `out` has room for 4 * text.size() + kEscapeSlack bytes:
// bytes are copied sixteen at a time, so a copy may run up to fifteen bytes
// past what is finally written. Returns the end. One pass, so a field of a
// million "<" costs linear time.
inline constexpr std::size_t kEscapeSlack = 16;
char* EscapeAngleBracketsInto(std::string_view text, char* out);

// The implementations, each the same function of its text (tests hold them
// to it): sixteen bytes a step with SSE2, each bracket costing a copy and its
// entity; and with SSSE3, eight bytes at a time spread out by one shuffle,
// whatever their brackets. A processor without SSSE3 runs the first.
namespace escape {
char* WithSse2(std::string_view text, char* out);
char* WithSsse3(std::string_view text, char* out);
}  // namespace escape

// The same, handed to emit(piece) a bounded piece at a time, for text of any
// length.
template <typename Emit>
void EscapeAngleBracketsTo(std::string_view text, Emit&& emit) {
  constexpr std::size_t kStep = 1024;
  char buffer[4 * kStep + kEscapeSlack];
  for (std::size_t at = 0; at < text.size(); at += kStep) {
    const char* end = EscapeAngleBracketsInto(text.substr(at, kStep), buffer);
    emit(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
  }
}

// Writes `text` into `out` with every "&gt;" written as ">" and every "&lt;"
// as "<", found left to right without overlap; every other byte, "&" in any
// other sequence included, is copied. Returns the end. `out` has room for
// text.size() + kUnescapeSlack bytes: bytes are copied sixteen at a time, so
// a copy may run up to fifteen bytes past what is finally written. Entities
// are dense in `mw` values, so this is the hottest routine of the document
// reader: it takes the fastest of the implementations below that the
// processor can run.
inline constexpr std::size_t kUnescapeSlack = 16;
char* UnescapeAngleBracketsInto(std::string_view text, char* out);

// The implementations, each the same function of its text (tests hold them
// to it): byte by byte anywhere; sixteen bytes a step with SSE2; and with
// SSSE3, sixteen bytes a step that are compacted without a branch per
// entity. Those a processor lacks fall back to the one below them.
namespace unescape {
char* Portable(std::string_view text, char* out);
char* WithSse2(std::string_view text, char* out);
char* WithSsse3(std::string_view text, char* out);
bool HasSsse3();
}  // namespace unescape

// The same, handed to emit(piece) a bounded piece at a time, for text of any
// length. A piece never ends inside an entity.
template <typename Emit>
void UnescapeAngleBracketsTo(std::string_view text, Emit&& emit) {
  constexpr std::size_t kStep = 4096;
  char buffer[kStep + kUnescapeSlack];
  while (!text.empty()) {
    std::size_t n = text.size() < kStep ? text.size() : kStep;
    if (n < text.size()) {
      // An "&" among the last three bytes may begin an entity that the next
      // piece completes: the piece ends before it.
      const std::size_t amp = text.substr(n - 3, 3).rfind('&');
      if (amp != std::string_view::npos) n = n - 3 + amp;
    }
    const char* end = UnescapeAngleBracketsInto(text.substr(0, n), buffer);
    emit(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
    text.remove_prefix(n);
  }
}

}  // namespace quorvel::document

#endif  // QUORVEL_DOCUMENT_XML_BYTES_H
