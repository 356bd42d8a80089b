// Size arithmetic that cannot wrap.
//
// On a 32-bit size_t, the DLL's world, one field of a gigabyte is enough to
// wrap a sum of sizes, and a wrapped size is a buffer overrun waiting for its
// input. So every size the library adds, multiplies or doubles goes through
// these routines, which report overflow instead of wrapping: a bound that
// saturates sends the caller down its unreserved path, and a size of memory
// that cannot be had raises std::bad_alloc ("Out of memory" at the exports).
//
// They are templates over the unsigned type so that tests check the 32-bit
// arithmetic directly on any host, without allocating a gigabyte.
#ifndef QUORVEL_COMMON_SIZES_H
#define QUORVEL_COMMON_SIZES_H

#include <limits>
#include <new>
#include <type_traits>

namespace quorvel {

// a + b, or the largest value of Size when the sum does not fit.
template <typename Size>
constexpr Size SaturatingAdd(Size a, Size b) {
  static_assert(std::is_unsigned_v<Size>);
  Size sum;
  return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<Size>::max() : sum;
}

// a * b, or the largest value of Size when the product does not fit.
template <typename Size>
constexpr Size SaturatingMul(Size a, Size b) {
  static_assert(std::is_unsigned_v<Size>);
  Size product;
  return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<Size>::max() : product;
}

// a + b for a size of memory about to be allocated; raises std::bad_alloc
// when the sum does not fit.
template <typename Size>
Size AddOrOutOfMemory(Size a, Size b) {
  static_assert(std::is_unsigned_v<Size>);
  Size sum;
  if (__builtin_add_overflow(a, b, &sum)) throw std::bad_alloc();
  return sum;
}

// The capacity a buffer of `capacity` bytes grows to so that it holds at
// least `needed`: doubled as often as that takes, or exactly `needed` where
// doubling would not fit. Raises std::bad_alloc only when `needed` is the
// largest value of Size, which no allocation can satisfy.
template <typename Size>
Size GrownCapacity(Size capacity, Size needed) {
  static_assert(std::is_unsigned_v<Size>);
  if (needed == std::numeric_limits<Size>::max()) throw std::bad_alloc();
  Size grown = capacity == 0 ? 1 : capacity;
  while (grown < needed) {
    if (__builtin_mul_overflow(grown, Size{2}, &grown)) return needed;
  }
  return grown;
}

}  // namespace quorvel

#endif  // QUORVEL_COMMON_SIZES_H
