// Copies of a few bytes by moves of fixed sizes.
//
// The conversions copy a value or a piece of one for every row. A call into
// the C library's memcpy for a few bytes costs more than the bytes, and
// more still where that library copies small pieces slowly (Wine's msvcrt,
// which the DLL's calls reach, does). Two moves of a fixed size, the second
// overlapping the first, cover any count between that size and twice it, and
// touch no byte outside the n: a value may end where the reader's window
// does.
#ifndef QUORVEL_COMMON_COPY_H
#define QUORVEL_COMMON_COPY_H

#include <cstddef>
#include <cstring>

namespace quorvel {

// The n (over sixteen) bytes at `from` to `to`, sixteen at a time: out of
// line, so that CopyBytes, inlined wherever a piece is copied, stays small.
[[gnu::noinline]] inline void CopyManyBytes(char* to, const char* from, std::size_t n) {
  for (std::size_t i = 0; i < n - 16; i += 16) std::memcpy(to + i, from + i, 16);
  std::memcpy(to + n - 16, from + n - 16, 16);
}

// The n bytes at `from` to `to`, which do not overlap.
[[gnu::always_inline]] inline void CopyBytes(char* to, const char* from, std::size_t n) {
  if (n >= 8 && n <= 16) {
    std::memcpy(to, from, 8);
    std::memcpy(to + n - 8, from + n - 8, 8);
  } else if (n > 16 && n <= 32) {
    std::memcpy(to, from, 16);
    std::memcpy(to + n - 16, from + n - 16, 16);
  } else if (n >= 4 && n < 8) {
    std::memcpy(to, from, 4);
    std::memcpy(to + n - 4, from + n - 4, 4);
  } else if (n < 4) {
    for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
  } else {
    CopyManyBytes(to, from, n);
  }
}

}  // namespace quorvel

#endif  // QUORVEL_COMMON_COPY_H
