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

// Calls visit(p) for each byte p in [begin, end) equal to `c`, in order, until
// visit returns false. Sixteen bytes at a time; a tail shorter than that is
// read as the last sixteen bytes of the range, minus the ones already seen.
template <typename Visit>
inline void ForEachByte(const char* begin, const char* end, char c, Visit&& visit) {
  const char* p = begin;
#if defined(__SSE2__)
  const __m128i vc = _mm_set1_epi8(c);
  auto matches = [&vc](const char* at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, vc)));
  };
  for (; end - p >= 16; p += 16) {
    for (unsigned mask = matches(p); mask != 0; mask &= mask - 1) {
      if (!visit(p + __builtin_ctz(mask))) return;
    }
  }
  if (p < end && end - begin >= 16) {
    const char* const last = end - 16;
    for (unsigned mask = matches(last) & (~0u << (p - last)); mask != 0; mask &= mask - 1) {
      if (!visit(last + __builtin_ctz(mask))) return;
    }
    return;
  }
#endif
  for (; p < end; ++p) {
    if (*p == c && !visit(p)) return;
  }
}

}  // namespace quorvel

#endif  // QUORVEL_TEXT_SCAN_H
