#include "text/fixed_block.h"

#include "text/element_scan.h"

namespace quorvel {

FixedBlockReader::FixedBlockReader(std::span<const std::string_view> names,
                                   std::string_view open_marker, std::string_view close_marker)
    : open_marker_(PackText(open_marker)), close_marker_(PackText(close_marker)) {
  const std::array<std::string_view, 2> markers = {open_marker, close_marker};
  if (names.size() > kMaxNames || open_marker_.size == 0 || close_marker_.size == 0) return;
  for (std::size_t k = 0; k < names.size(); ++k) {
    const std::string_view name = names[k];
    // A tag compared as one word; a name that could stand for another, or
    // hold a byte the line is searched for, would not be found as the walk
    // finds it.
    if (name.empty() || name.size() > 5 || name.find_first_of("<>\r\n") != name.npos ||
        !ElementScanner::MarkerFree(name, markers)) {
      return;
    }
    for (std::size_t j = 0; j < k; ++j) {
      if (names[j] == name) return;
    }
    const TagTexts tags(name);
    open_[k] = PackText(tags.open());
    close_[k] = PackText(tags.close());
    close_crlf_[k] = PackText(tags.close_line());
  }
  count_ = names.size();
}

}  // namespace quorvel
