#include "text/element_scan.h"

#include <bit>
#include <cstring>
#include <string>

#include "text/bytes.h"
#include "text/scan.h"

namespace quorvel {

bool ElementScanner::MarkerFree(std::string_view name, std::span<const std::string_view> markers) {
  if (name.find('<') != name.npos || name.size() > TagTexts::kMaxName) return false;
  const TagTexts tags(name);
  const std::string_view open_tag = tags.open();
  const std::string_view close_tag = tags.close();
  // A marker may begin where a tag stands when the two agree on every byte
  // they both have.
  auto may_overlap = [](std::string_view marker, std::string_view tag) {
    const std::size_t n = marker.size() < tag.size() ? marker.size() : tag.size();
    return marker.substr(0, n) == tag.substr(0, n);
  };
  for (std::size_t j = 0; j < markers.size() && j < kMaxMarkers; ++j) {
    if (may_overlap(markers[j], open_tag) || may_overlap(markers[j], close_tag)) return false;
  }
  return true;
}

ElementScanner::ElementScanner(std::span<const std::string_view> names,
                               std::span<const std::string_view> markers)
    : count_(names.size() < kMaxNames ? names.size() : kMaxNames),
      marker_count_(markers.size() < kMaxMarkers ? markers.size() : kMaxMarkers) {
  for (std::size_t k = 0; k < count_; ++k) {
    names_[k] = names[k];
    if (names[k].empty()) continue;
    by_first_byte_[static_cast<unsigned char>(names[k][0])] |= static_cast<std::uint16_t>(1u << k);
    const char second = names[k].size() > 1 ? names[k][1] : '>';
    by_second_byte_[static_cast<unsigned char>(second)] |= static_cast<std::uint16_t>(1u << k);
    if (names[k].size() < 8) tags_[k] = PackText(TagTexts(names[k]).open().substr(1));
  }
  for (std::size_t k = 0; k < count_; ++k) {
    if (tags_[k].size == 0 || tags_[k].size > 6) continue;
    const TagTexts tags(names[k]);
    if (MarkerFree(names[k], markers)) single_[k].close = PackText(tags.close());
    // Two opening tags stand at one place only when one begins the other.
    const std::string_view tag = tags.open().substr(1);
    bool alone = true;
    for (std::size_t j = 0; j < count_; ++j) {
      const std::string other = std::string(names[j]) + '>';
      if (j != k && (other.starts_with(tag) || tag.starts_with(other))) alone = false;
    }
    if (alone) single_[k].guessed = tags_[k];
    single_[k].value = 1 + tags_[k].size;
    single_[k].next = k + 1 < count_ ? k + 1 : 0;
  }
  for (std::size_t j = 0; j < marker_count_; ++j) {
    markers_[j] = markers[j];
    packed_markers_[j] = PackText(markers[j]);
  }
}

std::uint32_t ElementScanner::StoreValues(std::string_view line, const LineTags& tags,
                                          std::span<std::string_view> values) const {
  std::uint32_t present = 0;
  for (std::uint32_t m = tags.opened & tags.closed; m != 0; m &= m - 1) {
    const unsigned k = static_cast<unsigned>(__builtin_ctz(m));
    const std::string_view value =
        ElementValueBetween(line, tags.open[k], names_[k].size() + 2, tags.close[k]);
    if (value.empty()) continue;
    values[k] = value;
    present |= 1u << k;
  }
  return present;
}

ElementScanner::LineFound ElementScanner::ScanLine(std::string_view line,
                                                   std::span<std::string_view> values) const {
  const char* const base = line.data();
  const char* const end = base + line.size();
  LineTags tags;
  ForEachByte(base, end, '<', [&](const char* p) {
    TakeTag(p, end, static_cast<std::size_t>(p - base), tags);
    return true;
  });
  return {StoreValues(line, tags, values), tags.markers, {}};
}

ElementScanner::Found ElementScanner::ExtractPresent(std::string_view line,
                                                     std::span<std::string_view> values,
                                                     std::string_view marker) const {
  const Packed packed_marker = PackText(marker);
  auto marker_at = [&](const char* p, const char* end) {
    return packed_marker.size != 0 ? (LoadUpTo8(p, end) & packed_marker.mask) == packed_marker.bytes
                                   : TextAt(p, end, marker);
  };
  const char* const base = line.data();
  const char* const end = base + line.size();
  LineTags tags;
  bool has_marker = false;
  ForEachByte(base, end, '<', [&](const char* p) {
    if (!has_marker && !marker.empty()) has_marker = marker_at(p, end);
    TakeTag(p, end, static_cast<std::size_t>(p - base), tags);
    return true;
  });
  return {StoreValues(line, tags, values), has_marker};
}

}  // namespace quorvel
