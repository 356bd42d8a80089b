#include "document/xml_bytes.h"

namespace quorvel::document {
namespace {

bool Rejected(unsigned char byte, Written written) {
  if (byte >= 0x20) return byte == '&' || (byte == '<' && written == Written::kRaw);
  return byte != '\t' && byte != '\n' && byte != '\r';
}

std::size_t FirstRejectedFrom(std::string_view value, std::size_t from, Written written) {
  for (std::size_t i = from; i < value.size(); ++i) {
    if (Rejected(static_cast<unsigned char>(value[i]), written)) return i;
  }
  return std::string_view::npos;
}

}  // namespace

#if defined(__SSE2__)
// Every value of every row passes through here when a caller listens, and
// such bytes are rare: sixteen bytes are looked at in one step for "&", "<"
// and the bytes below 0x20 other than TAB (TABs fill a whole line's bytes,
// which a caller may look at at once); a step that finds one of them asks
// the byte rule of each.
std::size_t FirstRejectedByte(std::string_view value, Written written) {
  const char* const begin = value.data();
  const std::size_t size = value.size();
  const __m128i amp = _mm_set1_epi8('&');
  const __m128i lt = written == Written::kRaw ? _mm_set1_epi8('<') : amp;
  const __m128i tab = _mm_set1_epi8('\t');
  const __m128i below_space = _mm_set1_epi8(0x1F);
  std::size_t at = 0;
  for (; at < size; at += 16) {
    if (size - at < 16) {
      // The tail is read as the last sixteen bytes, when there are as many.
      if (size < 16) return FirstRejectedFrom(value, at, written);
      at = size - 16;
    }
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin + at));
    const __m128i control = _mm_andnot_si128(
        _mm_cmpeq_epi8(v, tab), _mm_cmpeq_epi8(_mm_max_epu8(v, below_space), below_space));
    const __m128i hit =
        _mm_or_si128(control, _mm_or_si128(_mm_cmpeq_epi8(v, amp), _mm_cmpeq_epi8(v, lt)));
    for (auto mask = static_cast<unsigned>(_mm_movemask_epi8(hit)); mask != 0; mask &= mask - 1) {
      const std::size_t i = at + static_cast<std::size_t>(__builtin_ctz(mask));
      if (Rejected(static_cast<unsigned char>(begin[i]), written)) return i;
    }
  }
  return std::string_view::npos;
}
#else
std::size_t FirstRejectedByte(std::string_view value, Written written) {
  return FirstRejectedFrom(value, 0, written);
}
#endif

}  // namespace quorvel::document
