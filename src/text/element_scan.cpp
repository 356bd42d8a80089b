#include "text/element_scan.h"

#include <cstring>

#include "text/bytes.h"
#include "text/scan.h"

namespace quorvel {
namespace {

// True when `name` + ">" stands at `p`, within [p, end).
bool NameAndCloseAt(const char* p, const char* end, std::string_view name) {
  if (static_cast<std::size_t>(end - p) <= name.size() || p[name.size()] != '>') return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (p[i] != name[i]) return false;
  }
  return true;
}

// True when `marker` (whose first byte is already known to match) stands at
// `p`, within [p, end). Compares front to back: most candidates differ early.
bool MarkerAt(const char* p, const char* end, std::string_view marker) {
  if (static_cast<std::size_t>(end - p) < marker.size()) return false;
  for (std::size_t i = 1; i < marker.size(); ++i) {
    if (p[i] != marker[i]) return false;
  }
  return true;
}

}  // namespace

ElementScanner::ElementScanner(std::span<const std::string_view> names)
    : count_(names.size() < kMaxNames ? names.size() : kMaxNames) {
  for (std::size_t k = 0; k < count_; ++k) {
    names_[k] = names[k];
    if (!names[k].empty()) {
      by_first_byte_[static_cast<unsigned char>(names[k][0])] |= static_cast<std::uint16_t>(1u << k);
    }
  }
}

ElementScanner::Found ElementScanner::ExtractPresent(std::string_view line,
                                                    std::span<std::string_view> values,
                                                    std::string_view marker) const {
  Found found;
  // First opening and closing tag of each name, valid where the bit is set.
  std::size_t open[kMaxNames];
  std::size_t close[kMaxNames];
  std::uint32_t opened = 0;
  std::uint32_t closed = 0;
  const char* const base = line.data();
  const char* const end = base + line.size();
  ForEachByte(base, end, '<', [&](const char* p) {
    const std::size_t at = static_cast<std::size_t>(p - base);
    // Every occurrence of the marker begins at one of the "<" visited here.
    if (!found.marker && !marker.empty() && MarkerAt(p, end, marker)) found.marker = true;
    if (p + 1 >= end) return true;
    // "<" + name + ">": candidates by the byte after "<".
    for (unsigned m = by_first_byte_[static_cast<unsigned char>(p[1])] & ~opened; m != 0;
         m &= m - 1) {
      const unsigned k = static_cast<unsigned>(__builtin_ctz(m));
      if (NameAndCloseAt(p + 1, end, names_[k])) {
        open[k] = at;
        opened |= 1u << k;
      }
    }
    // "</" + name + ">": candidates by the byte after "</".
    if (p[1] == '/' && p + 2 < end) {
      for (unsigned m = by_first_byte_[static_cast<unsigned char>(p[2])] & ~closed; m != 0;
           m &= m - 1) {
        const unsigned k = static_cast<unsigned>(__builtin_ctz(m));
        if (NameAndCloseAt(p + 2, end, names_[k])) {
          close[k] = at;
          closed |= 1u << k;
        }
      }
    }
    return true;
  });
  for (std::uint32_t m = opened & closed; m != 0; m &= m - 1) {
    const unsigned k = static_cast<unsigned>(__builtin_ctz(m));
    const std::string_view value = ElementValueBetween(line, open[k], names_[k].size() + 2, close[k]);
    if (value.empty()) continue;
    values[k] = value;
    found.present |= 1u << k;
  }
  return found;
}

void ElementScanner::Extract(std::string_view line, std::span<std::string_view> values) const {
  for (std::size_t k = 0; k < count_; ++k) values[k] = {};
  ExtractPresent(line, values);
}

void ExtractElementTexts(std::string_view line, std::span<const std::string_view> names,
                         std::span<std::string_view> values) {
  ElementScanner(names).Extract(line, values);
}

}  // namespace quorvel
