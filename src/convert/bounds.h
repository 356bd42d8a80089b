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

// At least the room the document row written for an input line of
// `line_size` bytes needs: its values are pieces of the line, and escaping
// at most quadruples mw, so four times the line is enough for them; the rest
// is the row's fixed pieces (under 200 bytes with the row number and a
// hexadecimal sy of sixteen digits) and the bytes the reserved writer may
// copy past its end. One product and one sum a row, whatever its fields.
template <typename Size>
constexpr Size RowRoom(Size line_size) {
  return SaturatingAdd(SaturatingMul(Size{4}, line_size), Size{512});
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
