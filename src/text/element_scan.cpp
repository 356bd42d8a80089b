#include "text/element_scan.h"

#include <cstring>

#include "text/bytes.h"

namespace quorvel {
namespace {

constexpr std::size_t kNotFound = std::string_view::npos;

// True when `name` + ">" stands at `p`, within [p, end).
bool NameAndCloseAt(const char* p, const char* end, std::string_view name) {
  return static_cast<std::size_t>(end - p) > name.size() &&
         std::memcmp(p, name.data(), name.size()) == 0 && p[name.size()] == '>';
}

}  // namespace

void ExtractElementTexts(std::string_view line, std::span<const std::string_view> names,
                         std::span<std::string_view> values) {
  const std::size_t n = names.size() < kMaxScannedElements ? names.size() : kMaxScannedElements;
  std::size_t open[kMaxScannedElements];
  std::size_t close[kMaxScannedElements];
  for (std::size_t k = 0; k < n; ++k) open[k] = close[k] = kNotFound;
  std::size_t missing = 2 * n;
  const char* const base = line.data();
  const char* const end = base + line.size();
  const char* p = base;
  while (missing > 0 && p < end) {
    p = static_cast<const char*>(std::memchr(p, '<', static_cast<std::size_t>(end - p)));
    if (p == nullptr) break;
    const std::size_t at = static_cast<std::size_t>(p - base);
    const bool slash = p + 1 < end && p[1] == '/';
    for (std::size_t k = 0; k < n; ++k) {
      if (open[k] == kNotFound && NameAndCloseAt(p + 1, end, names[k])) {
        open[k] = at;
        --missing;
      }
      if (slash && close[k] == kNotFound && NameAndCloseAt(p + 2, end, names[k])) {
        close[k] = at;
        --missing;
      }
    }
    ++p;
  }
  for (std::size_t k = 0; k < n; ++k) {
    values[k] = open[k] == kNotFound || close[k] == kNotFound
                    ? std::string_view()
                    : ElementValueBetween(line, open[k], names[k].size() + 2, close[k]);
  }
}

}  // namespace quorvel
