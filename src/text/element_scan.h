// Several elements of one document line in a single pass.
#ifndef QUORVEL_TEXT_ELEMENT_SCAN_H
#define QUORVEL_TEXT_ELEMENT_SCAN_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace quorvel {

// Finds, for a fixed set of element names (at most kMaxNames, none empty),
// what ExtractElementText would give for each name on a line, at the cost of
// one walk over the line's "<" bytes instead of two searches per name: every
// tag begins with "<", so the first "<" at which a tag matches is where a
// search for that tag alone would have found it. A table indexed by the byte
// after "<" (or after "</") names the few candidates worth comparing.
class ElementScanner {
 public:
  static constexpr std::size_t kMaxNames = 16;

  explicit ElementScanner(std::span<const std::string_view> names);

  struct Found {
    std::uint32_t present = 0;  // bit k: values[k] was set, to a non-empty value
    bool marker = false;        // the line contains the marker
  };

  // For every k whose value ExtractElementText(line, names[k]) is non-empty,
  // stores it in values[k] and sets bit k of `present`; other entries of
  // `values` are left as they were (a line rarely holds more than one
  // element, so nothing is cleared). Also tells, in the same pass, whether
  // the line contains `marker`, which must begin with "<" (empty: none).
  Found ExtractPresent(std::string_view line, std::span<std::string_view> values,
                       std::string_view marker = {}) const;

  // values[k] = ExtractElementText(line, names[k]) for every k.
  void Extract(std::string_view line, std::span<std::string_view> values) const;

 private:
  std::array<std::string_view, kMaxNames> names_{};
  std::size_t count_ = 0;
  std::array<std::uint16_t, 256> by_first_byte_{};  // bit k: names_[k] starts so
};

// The same for a one-off set of names (builds the table on every call).
void ExtractElementTexts(std::string_view line, std::span<const std::string_view> names,
                         std::span<std::string_view> values);

}  // namespace quorvel

#endif  // QUORVEL_TEXT_ELEMENT_SCAN_H
