#include "text/element_scan.h"

#include <cstring>

#include "text/bytes.h"

namespace quorvel {
namespace {

constexpr std::size_t kNotFound = std::string_view::npos;

// True when `name` + ">" stands at `p`, within [p, end).
bool NameAndCloseAt(const char* p, const char* end, std::string_view name) {
  if (static_cast<std::size_t>(end - p) <= name.size() || p[name.size()] != '>') return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (p[i] != name[i]) return false;
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

bool ElementScanner::Extract(std::string_view line, std::span<std::string_view> values,
                             std::string_view marker) const {
  bool has_marker = false;
  std::size_t open[kMaxNames];
  std::size_t close[kMaxNames];
  for (std::size_t k = 0; k < count_; ++k) open[k] = close[k] = kNotFound;
  const char* const base = line.data();
  const char* const end = base + line.size();
  for (const char* p = base; p + 1 < end; ++p) {
    p = static_cast<const char*>(std::memchr(p, '<', static_cast<std::size_t>(end - p)));
    if (p == nullptr || p + 1 >= end) break;
    const std::size_t at = static_cast<std::size_t>(p - base);
    // Every occurrence of the marker begins at one of the "<" visited here.
    if (!marker.empty() && !has_marker && static_cast<std::size_t>(end - p) >= marker.size() &&
        std::memcmp(p, marker.data(), marker.size()) == 0) {
      has_marker = true;
    }
    // "<" + name + ">": candidates by the byte after "<".
    for (unsigned m = by_first_byte_[static_cast<unsigned char>(p[1])]; m != 0; m &= m - 1) {
      const unsigned k = static_cast<unsigned>(__builtin_ctz(m));
      if (open[k] == kNotFound && NameAndCloseAt(p + 1, end, names_[k])) open[k] = at;
    }
    // "</" + name + ">": candidates by the byte after "</".
    if (p[1] == '/' && p + 2 < end) {
      for (unsigned m = by_first_byte_[static_cast<unsigned char>(p[2])]; m != 0; m &= m - 1) {
        const unsigned k = static_cast<unsigned>(__builtin_ctz(m));
        if (close[k] == kNotFound && NameAndCloseAt(p + 2, end, names_[k])) close[k] = at;
      }
    }
  }
  for (std::size_t k = 0; k < count_; ++k) {
    values[k] = open[k] == kNotFound || close[k] == kNotFound
                    ? std::string_view()
                    : ElementValueBetween(line, open[k], names_[k].size() + 2, close[k]);
  }
  return has_marker;
}

void ExtractElementTexts(std::string_view line, std::span<const std::string_view> names,
                         std::span<std::string_view> values) {
  ElementScanner(names).Extract(line, values);
}

}  // namespace quorvel
