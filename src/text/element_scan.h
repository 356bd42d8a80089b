// Several elements of one document line in a single pass.
#ifndef QUORVEL_TEXT_ELEMENT_SCAN_H
#define QUORVEL_TEXT_ELEMENT_SCAN_H

#include <cstddef>
#include <span>
#include <string_view>

namespace quorvel {

inline constexpr std::size_t kMaxScannedElements = 16;

// values[k] = ExtractElementText(line, names[k]) for every k, at the cost of
// one walk over the line's "<" bytes instead of two searches per name: every
// tag begins with "<", so the first "<" at which a tag matches is where
// searching for that tag alone would have found it. At most
// kMaxScannedElements names; `values` has the size of `names`.
void ExtractElementTexts(std::string_view line, std::span<const std::string_view> names,
                         std::span<std::string_view> values);

}  // namespace quorvel

#endif  // QUORVEL_TEXT_ELEMENT_SCAN_H
