#include "row_tracker.h"

#include "utf8.h"

namespace quorvel::cli {
namespace {

namespace doc = document;

constexpr std::size_t kKr = 4;
constexpr std::size_t kRq = 10;
constexpr std::size_t kDateBytes = 8;
constexpr std::size_t kMaxIdBytes = 40;

bool Contains(std::string_view line, std::string_view marker) {
  return line.find(marker) != std::string_view::npos;
}

// The id="..." value inside the tag that opens at the line's first "<row".
std::string RowId(std::string_view line) {
  const std::size_t tag = line.find(doc::kRowOpenMarker);
  const std::size_t tag_end = line.find('>', tag);
  const std::size_t attribute = line.find(" id=\"", tag);
  if (attribute == std::string_view::npos || attribute > tag_end) return {};
  const std::size_t begin = attribute + 5;
  const std::size_t end = line.find('"', begin);
  if (end == std::string_view::npos || end > tag_end) return {};
  return std::string(line.substr(begin, end - begin < kMaxIdBytes ? end - begin : kMaxIdBytes));
}

bool NonAsciiDate(std::string_view value) {
  for (const char c : value.substr(0, kDateBytes)) {
    if (static_cast<unsigned char>(c) > 0x7F) return true;
  }
  return false;
}

}  // namespace

std::string RowBlock::Name() const {
  if (!id.empty()) return id;
  std::string name(1, '#');  // (not "#" + ...: GCC 12 warns falsely at -O3)
  return name.append(std::to_string(ordinal));
}

std::string RowBlock::Missing() const {
  std::string names;
  for (std::size_t k = 0; k < kValues; ++k) {
    if (present & (1u << k)) continue;
    if (!names.empty()) names += ", ";
    names += doc::kResultRowElements[k];
  }
  return names;
}

RowTracker::RowTracker() : scanner_(doc::kResultRowElements) {}

void RowTracker::Open(std::string_view line) {
  const std::int64_t ordinal = block_.ordinal + 1;
  block_ = RowBlock();
  block_.ordinal = ordinal;
  block_.first_line = line_;
  block_.id = RowId(line);
  state_ = State::kInBlock;
}

bool RowTracker::Take(std::string_view line, std::string_view marker) {
  std::array<std::string_view, RowBlock::kValues> values;
  const ElementScanner::Found found = scanner_.ExtractPresent(line, values, marker);
  block_.present |= found.present;
  for (const std::size_t k : {kKr, kRq}) {
    if ((found.present & (1u << k)) == 0) continue;
    Place& place = k == kKr ? block_.non_ascii_kr : block_.non_ascii_rq;
    place = {};
    if (NonAsciiDate(values[k])) {
      const auto offset = static_cast<std::size_t>(values[k].data() - line.data());
      place = {line_, CountCharacters(line, offset) + 1};
    }
  }
  return found.marker;
}

bool RowTracker::Feed(std::string_view line) {
  ++line_;
  closed_ = false;
  if (state_ == State::kBeforeData) {
    if (line_ < 2 || !Contains(line, doc::kDataMarker)) return false;
    state_ = State::kBetweenRows;
  }
  if (state_ == State::kBetweenRows) {
    if (!Contains(line, doc::kRowOpenMarker)) return false;
    Open(line);
    Take(line, {});  // the opening line's own "</row>" does not close the row
    return false;
  }
  if (!Take(line, doc::kRowCloseMarker)) return false;
  block_.last_line = line_;
  state_ = State::kBetweenRows;
  closed_ = true;
  return true;
}

}  // namespace quorvel::cli
