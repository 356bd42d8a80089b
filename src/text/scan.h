// Fast search for the first of up to three byte values.
//
// Line breaks and field separators are found sixteen bytes at a time where the
// processor has SSE2 (every x86-64 and every 32-bit Windows host this library
// targets), and a byte at a time elsewhere. Both give the same answer.
#ifndef QUORVEL_TEXT_SCAN_H
#define QUORVEL_TEXT_SCAN_H

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorvel {

// The first byte in [p, end) equal to a, b or c; `end` when there is none.
inline const char* FindFirstOf(const char* p, const char* end, char a, char b, char c) {
#if defined(__SSE2__)
  const __m128i va = _mm_set1_epi8(a);
  const __m128i vb = _mm_set1_epi8(b);
  const __m128i vc = _mm_set1_epi8(c);
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)),
                                     _mm_cmpeq_epi8(v, vc));
    const int mask = _mm_movemask_epi8(hit);
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  while (p < end && *p != a && *p != b && *p != c) ++p;
  return p;
}

}  // namespace quorvel

#endif  // QUORVEL_TEXT_SCAN_H
