// Returned exchange document to text file.
//
// The document is scanned line by line with plain byte searches, never parsed
// as XML: the reader relies only on the nsr and rows header elements, a line
// holding "<data>", and row blocks from a "<row" line to the next "</row>"
// line whose element lines carry one value each.
#include <array>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "convert/convert.h"
#include "document/layout.h"
#include "text/bytes.h"
#include "text/element_scan.h"
#include "text/line_writer.h"
#include "text/lines.h"
#include "text/numbers.h"

namespace quorvel {
namespace {

namespace doc = document;

constexpr std::size_t kFieldCount = doc::kResultRowElements.size();
constexpr std::size_t kKr = 4;
constexpr std::size_t kMw = 7;
constexpr std::size_t kSy = 8;
constexpr std::size_t kRq = 10;

// The first line from `from` on for which `match` holds. A search that runs
// past the last line raises "List index out of bounds (<line count>)" from
// LineList::Line.
template <typename Match>
std::int32_t FindLine(const LineList& lines, std::int32_t from, Match&& match) {
  for (std::int32_t i = from;; ++i) {
    if (match(lines.Line(i))) return i;
  }
}

// The first non-empty value of element `name`, searched from line 0.
std::string_view FindHeaderValue(const LineList& lines, std::string_view name) {
  std::string_view value;
  FindLine(lines, 0, [&](std::string_view line) {
    value = ExtractElementText(line, name);
    return !value.empty();
  });
  return value;
}

// Whether `line` contains `marker`: memchr to each candidate first byte, then
// a byte compare. Markers are short and their first byte is rare in a line.
bool Contains(std::string_view line, std::string_view marker) {
  const char* p = line.data();
  const char* const end = p + line.size();
  while (static_cast<std::size_t>(end - p) >= marker.size()) {
    p = static_cast<const char*>(std::memchr(p, marker[0], static_cast<std::size_t>(end - p)));
    if (p == nullptr || static_cast<std::size_t>(end - p) < marker.size()) return false;
    if (std::memcmp(p, marker.data(), marker.size()) == 0) return true;
    ++p;
  }
  return false;
}

auto Containing(std::string_view marker) {
  return [marker](std::string_view line) { return Contains(line, marker); };
}

// The non-empty element values found on one line: values[k] is set where
// bit k of `present` is.
struct LineValues {
  std::array<std::string_view, kFieldCount> values;
  std::uint32_t present = 0;
};

// The eleven values of one row. A later non-empty value replaces an earlier
// one; an empty one never clears it.
class ResultRow {
 public:
  void Clear() { values_.fill({}); }

  // Takes the values found on one line of the row block. A `sy` value is
  // converted as soon as it is taken, so a bad one fails the conversion even
  // if a later line would have replaced it.
  void Take(const LineValues& found) {
    for (std::uint32_t m = found.present; m != 0; m &= m - 1) {
      const auto k = static_cast<std::size_t>(__builtin_ctz(m));
      values_[k] = k == kSy ? ConvertSy(found.values[k]) : found.values[k];
    }
  }

  bool Complete() const {
    for (const std::string_view value : values_) {
      if (value.empty()) return false;
    }
    return true;
  }

  std::string_view operator[](std::size_t k) const { return values_[k]; }

  // The sum of the values' sizes.
  std::size_t Size() const {
    std::size_t size = 0;
    for (const std::string_view value : values_) size += value.size();
    return size;
  }

 private:
  // "A..." is kept; anything else is read as "$" + value (hexadecimal digits
  // only, at most sixteen significant) and written in signed decimal.
  std::string_view ConvertSy(std::string_view value) {
    if (value[0] == 'A') return value;
    sy_source_.assign(1, '$').append(value);
    sy_decimal_ = FormatDecimal(ParseInt64(sy_source_));
    return sy_decimal_.view();
  }

  std::array<std::string_view, kFieldCount> values_;
  std::string sy_source_;
  NumberText sy_decimal_;
};

// yyyymmdd as yyyy/mm/dd, by position alone: missing bytes give nothing and
// bytes after the eighth are dropped.
template <typename Out>
void WriteDate(Out& out, std::string_view value) {
  out.Append(CopyText(value, 1, 4));
  out.Append("/");
  out.Append(CopyText(value, 5, 2));
  out.Append("/");
  out.Append(CopyText(value, 7, 2));
}

// `Out` is the writer itself or room reserved in its buffer (a result line
// is never longer than its values, ten TABs, four slashes and CR LF).
template <typename Out>
void WriteResultLine(Out& out, const ResultRow& row) {
  for (std::size_t k = 0; k < kFieldCount; ++k) {
    if (k > 0) out.Append("\t");
    if (k == kKr || k == kRq) {
      WriteDate(out, row[k]);
    } else if (k == kMw) {
      UnescapeAngleBracketsTo(row[k], [&out](std::string_view piece) { out.Append(piece); });
    } else {
      out.Append(row[k]);
    }
  }
  out.EndLine();
}

}  // namespace

bool ConvertDocumentToText(const char* input_path, const char* output_path,
                           std::int32_t* rows_count, char* nsr_buffer, char* reserved_buffer) {
  LineList lines;
  lines.Load(input_path);
  LineWriter out(output_path);

  const std::string_view nsr = FindHeaderValue(lines, doc::kNsr);
  const std::int32_t rows = ParseInt32(FindHeaderValue(lines, doc::kRows));
  *rows_count = rows;
  // The data opening line is never the document's first line.
  std::int32_t scan = FindLine(lines, 1, Containing(doc::kDataMarker));

  std::int32_t incomplete = 0;
  ResultRow row;
  const ElementScanner scanner(doc::kResultRowElements);
  // The values of the current row block's lines, found in the same pass that
  // looks for its closing line and taken once that line is found. A block
  // longer than the cache is scanned again instead, so memory stays bounded.
  constexpr std::size_t kCachedLines = 64;
  std::vector<LineValues> block(kCachedLines);
  LineValues overflow;
  for (std::int32_t r = 0; r < rows; ++r) {
    const std::int32_t open = FindLine(lines, scan, Containing(doc::kRowOpenMarker));
    const LineCursor opening = lines.CursorAt(open);
    // The opening line's own "</row>" does not close the row.
    block[0].present = scanner.ExtractPresent(opening.line(), block[0].values).present;
    std::size_t cached = 1;
    const std::int32_t close = FindLine(lines, open + 1, [&](std::string_view line) {
      LineValues& found = cached < kCachedLines ? block[cached++] : overflow;
      const ElementScanner::Found scan = scanner.ExtractPresent(line, found.values, doc::kRowCloseMarker);
      found.present = scan.present;
      return scan.marker;
    });
    scan = close + 1;
    row.Clear();
    if (static_cast<std::size_t>(close - open) < kCachedLines) {
      for (std::size_t i = 0; i < cached; ++i) row.Take(block[i]);
    } else {
      for (LineCursor walk = opening; walk.index() <= close; walk.Advance()) {
        overflow.present = scanner.ExtractPresent(walk.line(), overflow.values).present;
        row.Take(overflow);
      }
    }
    if (row.Complete()) {
      const std::size_t bound = row.Size() + 16;
      if (bound <= LineWriter::kMaxReserve) {
        ReservedRun run(out.Reserve(bound));
        WriteResultLine(run, row);
        out.Commit(run.end());
      } else {
        WriteResultLine(out, row);
      }
    } else {
      ++incomplete;
    }
  }

  CopyToCallerBuffer(nsr, nsr_buffer);
  CopyToCallerBuffer({}, reserved_buffer);
  if (incomplete > 0) return false;
  out.Save();
  return true;
}

}  // namespace quorvel
