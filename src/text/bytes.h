// Byte-string routines on std::string_view.
//
// Lifetime rule for every view in this library: a std::string_view returned by
// these routines points into the bytes it was given (usually a loaded file).
// It is valid only while those bytes live and must never be stored beyond
// the conversion call that loaded them.
//
// Positions are 1-based where the routine's contract says "position", as the
// file formats count them; 0 means "not found".
#ifndef QUORVEL_TEXT_BYTES_H
#define QUORVEL_TEXT_BYTES_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorvel {

// The bytes of `text` from 1-based `start` on, at most `count` of them. A
// start below 1 counts as 1; a start past the end, a negative count or an
// empty text give the empty text.
inline std::string_view CopyText(std::string_view text, std::int64_t start, std::int64_t count) {
  if (start < 1) start = 1;
  if (count < 0 || static_cast<std::uint64_t>(start) > text.size()) return {};
  const std::size_t from = static_cast<std::size_t>(start - 1);
  const std::size_t available = text.size() - from;
  const std::size_t n =
      static_cast<std::uint64_t>(count) < available ? static_cast<std::size_t>(count) : available;
  return text.substr(from, n);
}

// `text` without the bytes 0x00-0x20 at either end. GBK bytes (0x80 up) are
// never removed.
inline std::string_view TrimBlankAndControl(std::string_view text) {
  // Most values have nothing to trim.
  if (!text.empty() && static_cast<unsigned char>(text.front()) > 0x20 &&
      static_cast<unsigned char>(text.back()) > 0x20) {
    return text;
  }
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 0x20) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 0x20) --end;
  return text.substr(begin, end - begin);
}

// Writes `text` into `out` with every ">" written as "&gt;" and every "<" as
// "&lt;"; nothing else changes: "&" stays, and "&gt;" already in the text is
// not recognised. `out` has room for 4 * text.size() bytes; returns the end.
// One pass, so a field of a million "<" costs linear time.
inline char* EscapeAngleBracketsInto(std::string_view text, char* out) {
  const char* p = text.data();
  const char* const end = p + text.size();
#if defined(__SSE2__)
  // Sixteen bytes are copied up to the next bracket. The copy stays within
  // the output: every byte still to come writes at least one byte.
  const __m128i open_bracket = _mm_set1_epi8('<');
  const __m128i close_bracket = _mm_set1_epi8('>');
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    const unsigned mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, open_bracket), _mm_cmpeq_epi8(v, close_bracket))));
    if (mask == 0) {
      p += 16;
      out += 16;
      continue;
    }
    const unsigned before = static_cast<unsigned>(__builtin_ctz(mask));
    p += before;
    out += before;
    std::memcpy(out, *p++ == '<' ? "&lt;" : "&gt;", 4);
    out += 4;
  }
#endif
  // Branch-free: every byte stores four bytes (itself, or its entity) and the
  // output advances by one or four. Brackets fall at random in real `mw`
  // fields, where a branch per byte would be mispredicted often.
  for (; p < end; ++p) {
    const char c = *p;
    const bool lt = c == '<';
    const bool gt = c == '>';
    char piece[4] = {lt || gt ? '&' : c, lt ? 'l' : 'g', 't', ';'};
    std::memcpy(out, piece, 4);
    out += lt || gt ? 4 : 1;
  }
  return out;
}

// The same, handed to emit(piece) a bounded piece at a time, for text of any
// length.
template <typename Emit>
void EscapeAngleBracketsTo(std::string_view text, Emit&& emit) {
  constexpr std::size_t kStep = 1024;
  char buffer[4 * kStep];
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

// The value of an element on one document line, from its opening tag found
// at 0-based `open` (length `open_size`) and its closing tag found at 0-based
// `close` (each the first of its kind on the line, searched from the start of
// the line on its own): the bytes between them trimmed by
// TrimBlankAndControl; empty when the closing tag does not come after the
// opening one. Names match byte for byte, case-sensitively.
inline std::string_view ElementValueBetween(std::string_view line, std::size_t open,
                                            std::size_t open_size, std::size_t close) {
  const std::size_t value_begin = open + open_size;
  if (close <= value_begin) return {};
  return TrimBlankAndControl(line.substr(value_begin, close - value_begin));
}

// Copies `text` into a caller buffer of at least 256 bytes as a NUL-terminated
// string: the first min(size, 255) bytes, then NUL. Nothing after the NUL is
// touched. The limit counts bytes, so a GBK character can lose its second one.
void CopyToCallerBuffer(std::string_view text, char* buffer);

// The two steps CopyToCallerBuffer is made of. CountedCopy: buffer[0] = n and
// buffer[1..n] = the first n bytes, n = min(size, 255). PackCString: moves
// buffer[1..n] one place to the front and stores NUL at buffer[n].
void CountedCopy(std::string_view text, char* buffer);
void PackCString(char* buffer);

}  // namespace quorvel

#endif  // QUORVEL_TEXT_BYTES_H
