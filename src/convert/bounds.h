// Upper bounds on what one row writes, so that a row can be written straight
// into room reserved in the output buffer, unchecked. A bound that does not
// fit in Size saturates to its largest value, which is never reserved: the
// row then goes through the writer's checked path. Templates over the size
// type so that tests hold the 32-bit arithmetic of the DLL to account on any
// host.
#ifndef QUORVEL_CONVERT_BOUNDS_H
#define QUORVEL_CONVERT_BOUNDS_H

#include <cstdint>

#include "common/sizes.h"

namespace quorvel {

// At least the size of the document row written for an input line of
// `count` fields whose first ten have the sizes `field_sizes[0..9]`: every
// element line is under 24 bytes besides its value, and escaping at most
// quadruples `mw` (field 8 of a full row). A row of any other field count is
// its opening and closing lines alone.
template <typename Size, typename Sizes>
constexpr Size RowBound(std::int32_t count, const Sizes& field_sizes) {
  Size bound = 64;
  if (count != 10 && count != 8) return bound;
  for (std::int32_t k = 0; k < count; ++k) {
    bound = SaturatingAdd(bound, SaturatingAdd(Size{24}, static_cast<Size>(field_sizes[k])));
  }
  if (count == 10) {
    bound = SaturatingAdd(bound, SaturatingAdd(SaturatingMul(Size{3}, static_cast<Size>(field_sizes[7])),
                                               Size{16}));
  }
  return bound;
}

// At least the room the result line of a row whose eleven values have the
// sizes `value_sizes[0..10]` needs: the values (dates reshaped gain at most
// two slashes, unescaping only shrinks), ten TABs and CR LF, and the sixteen
// bytes an unescaping copy may run past its end.
template <typename Size, typename Sizes>
constexpr Size ResultLineBound(const Sizes& value_sizes) {
  Size bound = 32;
  for (const auto size : value_sizes) bound = SaturatingAdd(bound, static_cast<Size>(size));
  return bound;
}

}  // namespace quorvel

#endif  // QUORVEL_CONVERT_BOUNDS_H
