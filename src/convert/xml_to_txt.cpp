// Returned exchange document to text file.
//
// The document is scanned line by line with plain byte searches, never parsed
// as XML: the reader relies only on the nsr and rows header elements, a line
// holding "<data>", and row blocks from a "<row" line to the next "</row>"
// line whose element lines carry one value each.
//
// One forward pass through the reader's window does it all. The three header
// searches all start at the first line and normally end within the header, so
// they run side by side; only when the data line comes before the header
// values does the reader go back to it. Values are copied out of the window
// as they are found, so no line is kept.
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "common/failure.h"
#include "convert/bounds.h"
#include "convert/convert.h"
#include "convert/findings.h"
#include "convert/runs.h"
#include "convert/temporaries.h"
#include "convert/walk.h"
#include "document/layout.h"
#include "io/input.h"
#include "io/output.h"
#include "text/bytes.h"
#include "text/element_scan.h"
#include "text/fixed_block.h"
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

// The eleven values of one row. A later non-empty value replaces an earlier
// one; an empty one never clears it. Values are views into the reader's
// window while it stays put; Keep() copies them into the row's own storage
// before the window moves, so a row may span any number of windows and
// nothing is copied in the common case.
class ResultRow {
 public:
  ResultRow() = default;
  ResultRow(const ResultRow&) = delete;
  ResultRow& operator=(const ResultRow&) = delete;

  void Clear() {
    sizes_.fill(0);
    sy_failed_ = false;
  }

  // Takes the values found on one line of the row block (bit k of `present`
  // set where values[k] holds one; `only`, when not empty, the one value).
  void Take(std::uint32_t present, std::string_view only,
            const std::array<std::string_view, kFieldCount>& values) {
    // Most lines hold one value, given as `only`.
    if (!only.empty() && present != 1u << kSy) {
      Set(static_cast<std::size_t>(__builtin_ctz(present)), only);
      return;
    }
    for (std::uint32_t m = present; m != 0; m &= m - 1) {
      const auto k = static_cast<std::size_t>(__builtin_ctz(m));
      if (k == kSy) [[unlikely]] {
        TakeSy(values[k]);
      } else {
        Set(k, values[k]);
      }
    }
  }

  // Takes the values of a row read whole, every one of them non-empty, in
  // place of any before. False when its `sy` value fails its conversion: the
  // line walk then reads the row again, and reports that value.
  bool TakeWhole(const std::array<std::string_view, kFieldCount>& values) {
    for (std::size_t k = 0; k < kFieldCount; ++k) {
      if (k != kSy) Set(k, values[k]);
    }
    return SetSy(values[kSy]);
  }

  // Copies the values that still point into the reader's window.
  void Keep() {
    for (std::size_t k = 0; k < kFieldCount; ++k) {
      const std::string_view value = (*this)[k];
      if (value.empty() || value.data() == kept_[k].data() || value.data() == sy_decimal_.bytes) {
        continue;
      }
      kept_[k].assign(value);
      Set(k, kept_[k]);
    }
  }

  // The block's closing line has been found: a `sy` value that failed its
  // conversion fails the whole conversion now.
  void Close() const {
    if (sy_failed_) RaiseNotValidInteger(bad_sy_);
  }

  bool Complete() const {
    for (const std::size_t size : sizes_) {
      if (size == 0) return false;
    }
    return true;
  }

  // Bit k set where value k was not found.
  std::uint32_t Missing() const {
    std::uint32_t missing = 0;
    for (std::size_t k = 0; k < kFieldCount; ++k) {
      if (sizes_[k] == 0) missing |= 1u << k;
    }
    return missing;
  }

  std::string_view operator[](std::size_t k) const { return {data_[k], sizes_[k]}; }
  const std::array<std::size_t, kFieldCount>& sizes() const { return sizes_; }

 private:
  // "A..." is kept; anything else is read as "$" + value (hexadecimal digits
  // only, at most sixteen significant) and written in signed decimal. The
  // conversion is made as the value is taken, so a bad value fails even if a
  // later line replaces it; but only once the block proves closed, since a
  // block without its closing line fails with "List index out of bounds"
  // first. The first bad value is the one reported.
  [[gnu::noinline]] void TakeSy(std::string_view value) {
    if (!SetSy(value)) FailSy(value);
  }
  // Sets the `sy` value as it is written out; false, with nothing set, when
  // it is no number.
  bool SetSy(std::string_view value) {
    if (value[0] == 'A') {
      Set(kSy, value);
      return true;
    }
    if (!HexToDecimal(value, sy_decimal_)) return false;
    Set(kSy, sy_decimal_.view());
    return true;
  }

  // Out of line, so that the conversion every row makes keeps to few
  // registers and saves none it does not use.
  [[gnu::cold, gnu::noinline]] void FailSy(std::string_view value) {
    if (!sy_failed_) bad_sy_.assign(1, '$').append(value);
    sy_failed_ = true;
  }

  // A value's place and size are kept apart and copied a word at a time: a
  // view copied whole is read as one 16-byte word just after the scanner
  // wrote it as two 8-byte ones, which stalls the processor on every line.
  void Set(std::size_t k, std::string_view value) {
    data_[k] = value.data();
    sizes_[k] = value.size();
  }

  std::array<const char*, kFieldCount> data_{};
  std::array<std::size_t, kFieldCount> sizes_{};
  std::array<std::string, kFieldCount> kept_;
  NumberText sy_decimal_;
  std::string bad_sy_;
  bool sy_failed_ = false;
};

// yyyymmdd as yyyy/mm/dd, by position alone: missing bytes give nothing and
// bytes after the eighth are dropped. Always inlined: a row writes two, and
// a call costs about as much as the few moves of a real date.
template <typename Out>
[[gnu::always_inline]] inline void WriteDate(Out& out, std::string_view value) {
  if (std::endian::native == std::endian::little && value.size() >= 8) {
    // Every real date: "yyyy/mm/" and "dd" built in registers and stored in
    // place. Put together in memory a byte or two at a time, the date was
    // read back as whole words, and each such read waited for the pieces
    // under it to be written: two or three stalls a date.
    std::uint32_t yyyy, mmdd;
    std::memcpy(&yyyy, value.data(), 4);
    std::memcpy(&mmdd, value.data() + 4, 4);
    const std::uint64_t slash = '/';
    out.template AppendWordBytes<8>(yyyy | slash << 32 | std::uint64_t{mmdd & 0xFFFF} << 40 |
                                    slash << 56);
    out.template AppendWordBytes<2>(mmdd >> 16);
    return;
  }
  out.Append(CopyText(value, 1, 4));
  out.Put('/');
  out.Append(CopyText(value, 5, 2));
  out.Put('/');
  out.Append(CopyText(value, 7, 2));
}

// `Out` is the writer itself or room reserved in its buffer (a result line
// is never longer than its values, ten TABs, four slashes and CR LF).
template <typename Out>
void WriteResultLine(Out& out, const ResultRow& row) {
  static_assert(kKr == 4 && kMw == 7 && kRq == 10);
  out.Append(row[0]);
  for (std::size_t k = 1; k < kKr; ++k) {
    out.Put('\t');
    out.Append(row[k]);
  }
  out.Put('\t');
  WriteDate(out, row[kKr]);
  for (std::size_t k = kKr + 1; k < kMw; ++k) {
    out.Put('\t');
    out.Append(row[k]);
  }
  out.Put('\t');
  out.AppendUnescaped(row[kMw]);
  for (std::size_t k = kMw + 1; k < kRq; ++k) {
    out.Put('\t');
    out.Append(row[k]);
  }
  out.Put('\t');
  WriteDate(out, row[kRq]);
  out.EndLine();
}

void WriteResultLineOut(LineWriter& out, const ResultRow& row) {
  WriteBounded(out, ResultLineBound<std::size_t>(row.sizes()),
               [&](auto& run) { WriteResultLine(run, row); });
}

struct Header {
  // Only the first 255 bytes of the nsr value ever reach the host.
  std::string nsr;
  std::int32_t rows = 0;
};

// The three header searches, each from the first line: the first non-empty
// nsr value, the first non-empty rows value (parsed and stored through
// `rows_count` as soon as both are known, as the searches' order demands),
// and the first line after the first that contains "<data>". Values are
// copied as they are found, so no line is kept.
class HeaderSearch {
 public:
  explicit HeaderSearch(std::int32_t* rows_count) : rows_count_(rows_count) {}

  // Takes the next line: `present` and `found` as the scanner gives them,
  // `data` whether it contains "<data>". False once every search has ended.
  bool Take(std::uint32_t present, bool data, const std::array<std::string_view, 2>& found) {
    ++index_;
    const std::uint32_t fresh = present & ~have_;
    if (fresh & 1u) header_.nsr.assign(found[0].substr(0, 255));
    if (fresh & 2u) rows_text_.assign(found[1]);
    have_ |= fresh;
    if (!parsed_ && have_ == 3u) {
      header_.rows = ParseInt32(rows_text_);
      *rows_count_ = header_.rows;
      parsed_ = true;
    }
    if (data_line_ < 0 && index_ > 0 && data) data_line_ = index_;
    return !parsed_ || data_line_ < 0;
  }

  // The line last taken (0-based) is the data line.
  bool AtDataLine() const { return data_line_ == index_; }
  std::int64_t data_line() const { return data_line_; }
  const Header& header() const { return header_; }

  // The document ended first: the first unfinished search, in that order,
  // is the one reported, with the line where it began.
  [[noreturn]] void RaiseUnfinished(std::int64_t line_count) const {
    const Unfinished search = (have_ & 1u) == 0   ? Unfinished::kNsr
                              : (have_ & 2u) == 0 ? Unfinished::kRows
                                                  : Unfinished::kDataLine;
    RaiseListIndexOutOfBounds(static_cast<std::int32_t>(line_count), search,
                              search == Unfinished::kDataLine ? 2 : 1);
  }

 private:
  std::int32_t* const rows_count_;
  Header header_;
  std::string rows_text_;
  std::uint32_t have_ = 0;  // bit 0: nsr, bit 1: rows
  bool parsed_ = false;
  std::int64_t index_ = -1;
  std::int64_t data_line_ = -1;
};

// Runs the header searches from the first line and leaves `line` on the
// data line, the next line to look at (a view into the reader's window,
// which has not moved since). When the data line came before the header
// values, walks to it again. A search that runs past the last line raises
// "List index out of bounds (<line count>)".
Header ReadHeader(ByteReader& input, LineState& lines, std::int32_t* rows_count,
                  std::string_view& line) {
  static constexpr std::array<std::string_view, 2> kNames = {doc::kNsr, doc::kRows};
  static constexpr std::array<std::string_view, 1> kData = {doc::kDataMarker};
  const ElementScanner scanner(kNames, kData);
  std::array<std::string_view, 2> found;
  HeaderSearch search(rows_count);
  // Each line of the walk in turn, to take(its text, whether it holds "<data>").
  auto walk = [&](auto&& take) {
    return WalkContent(
        input, lines,
        [&](std::string_view chunk, bool last) {
          return scanner.ScanLines(chunk, last, found,
                                   [&](std::string_view text, const ElementScanner::LineFound& f) {
                                     line = text;
                                     return take(f.present, f.markers != 0);
                                   });
        },
        [] {});
  };
  if (!walk([&](std::uint32_t present, bool data) { return search.Take(present, data, found); })) {
    search.RaiseUnfinished(lines.lines());
  }
  if (search.AtDataLine()) return search.header();
  input.Rewind();
  lines = LineState();
  std::int64_t index = -1;
  bool data = false;
  const bool reached = walk([&](std::uint32_t, bool has_data) {
    data = has_data;
    return ++index < search.data_line();
  });
  // The document is no longer what the first walk read.
  if (!reached || !data) input.RaiseCannotOpen();
  return search.header();
}

// The value of the id="..." attribute of a row's opening line; empty when
// there is none.
std::string_view RowId(std::string_view line) {
  constexpr std::string_view kId = "id=\"";
  const std::size_t begin = line.find(kId);
  if (begin == std::string_view::npos) return {};
  const std::size_t value = begin + kId.size();
  const std::size_t end = line.find('"', value);
  return line.substr(value, end == std::string_view::npos ? line.size() - value : end - value);
}

constexpr std::uint32_t kOpens = 1;   // the line contains "<row"
constexpr std::uint32_t kCloses = 2;  // the line contains "</row>"

// The row blocks from the data line on, a line at a time: an opening line
// starts a block (its own "</row>" does not close it); every line of a block
// gives its values; a closing line ends the block and its row. Once the rows
// the header announces are read the walk stops, or, for a caller who asked
// what the document holds, goes on counting the blocks to the end.
class RowBlocks {
 public:
  using Values = std::array<std::string_view, kFieldCount>;

  // `data_line`: the 1-based number of the data line, the first one taken.
  RowBlocks(LineWriter& out, std::int32_t declared, Findings* findings, std::int64_t data_line)
      : out_(out),
        findings_(findings),
        declared_(declared),
        line_(data_line - 1),
        search_from_(data_line),
        counting_(declared <= 0) {}

  // Takes the next line; false once the walk is to stop.
  bool TakeLine(std::string_view text, std::uint32_t present, std::uint32_t markers,
                const Values& values, std::string_view only = {}) {
    ++line_;
    // Most lines are inside a block whose row is read, and do not close it.
    if (taking_ && (markers & kCloses) == 0) {
      row_.Take(present, only, values);
      return true;
    }
    return TakeMarkedLine(text, present, markers, values);
  }

  // Whether the next line, which no walk has taken, may open a row read
  // whole: it is out of a block, and a row is still to be read after it (the
  // last one is left to the walk, which ends the reading there), and no
  // recent try failed.
  bool ReadyForWholeRow() const {
    return !in_block_ && !counting_ && rows_read_ + 1 < declared_ && walk_rows_ == 0;
  }
  // Takes a row read whole, of `lines` lines; false when the walk is to read
  // it instead.
  bool TakeWholeRow(const Values& values, std::size_t lines) {
    row_.Clear();
    if (!row_.TakeWhole(values)) return false;
    line_ += static_cast<std::int64_t>(lines);
    search_from_ = line_ + 1;
    ++blocks_;
    ++rows_read_;
    misses_ = 0;
    WriteResultLineOut(out_, row_);
    return true;
  }
  // The next row could not be read whole. The walk reads it, and after
  // further misses in a row more and more rows before the next try: a
  // document laid out otherwise costs a try per thousand rows.
  void MissedWholeRow() {
    if (misses_ < 11) ++misses_;
    walk_rows_ = (1u << misses_) / 2;
  }
  // Whether the walk stopped to hand the next line to the reader of whole
  // rows (and not to end); asking clears it.
  bool TakeYield() { return std::exchange(yielded_, false); }

  // Past the rows to read: the rest is only counted.
  bool counting() const { return counting_; }
  std::int32_t rows_read() const { return rows_read_; }
  std::int32_t incomplete() const { return incomplete_; }
  // The window is about to move.
  void Keep() {
    if (!counting_) row_.Keep();
  }
  // The document ended inside a block, or before the next one announced.
  [[noreturn]] void RaiseUnfinished(std::int64_t line_count) const {
    RaiseListIndexOutOfBounds(static_cast<std::int32_t>(line_count), Unfinished::kRowBlock,
                              in_block_ ? opened_at_ : search_from_);
  }
  void TellCount() const {
    if (findings_ != nullptr) findings_->RowCount(declared_, blocks_);
  }

 private:
  // TakeLine for any other line.
  [[gnu::noinline]] bool TakeMarkedLine(std::string_view text, std::uint32_t present,
                                        std::uint32_t markers, const Values& values) {
    if (!in_block_) {
      if ((markers & kOpens) == 0) return true;
      in_block_ = true;
      taking_ = !counting_;
      opened_at_ = line_;
      if (counting_) return true;
      row_.Clear();
      row_.Take(present, {}, values);
      if (findings_ != nullptr) id_.assign(RowId(text));
      return true;
    }
    if (!counting_) row_.Take(present, {}, values);
    if ((markers & kCloses) == 0) return true;
    in_block_ = false;
    taking_ = false;
    search_from_ = line_ + 1;
    ++blocks_;
    if (counting_) return true;
    return CloseRow() && !YieldsToWholeRows();
  }

  // After a row the walk read and closed: whether the walk stops here, so
  // that the rows after it may be read whole.
  bool YieldsToWholeRows() {
    if (walk_rows_ > 0) --walk_rows_;
    yielded_ = ReadyForWholeRow();
    return yielded_;
  }

  bool CloseRow() {
    row_.Close();
    if (row_.Complete()) {
      WriteResultLineOut(out_, row_);
    } else {
      ++incomplete_;
      if (findings_ != nullptr)
        findings_->Incomplete({blocks_, id_, opened_at_, line_, row_.Missing()});
    }
    if (++rows_read_ < declared_) return true;
    counting_ = true;
    return findings_ != nullptr;
  }

  LineWriter& out_;
  Findings* const findings_;
  const std::int32_t declared_;
  ResultRow row_;
  std::string id_;
  std::int64_t line_;         // the line last taken
  std::int64_t search_from_;  // where the search for the next block began
  std::int64_t opened_at_ = 0;
  std::int64_t blocks_ = 0;  // blocks closed
  std::int32_t rows_read_ = 0;
  std::int32_t incomplete_ = 0;
  bool in_block_ = false;
  bool counting_;
  bool taking_ = false;  // in a block, and not counting
  bool yielded_ = false;
  std::uint32_t misses_ = 0;     // tries to read a row whole that failed in a row
  std::uint32_t walk_rows_ = 0;  // rows the walk reads before the next try
};

// Reads the rows at the front of `chunk` (which begins a line) that are laid
// out as a writer lays them out, for as long as the next may be read whole.
ChunkTaken TakeWholeRows(FixedBlockReader& reader, std::string_view chunk, RowBlocks& blocks,
                         RowBlocks::Values& values) {
  const char* p = chunk.data();
  const char* const end = p + chunk.size();
  std::size_t rows = 0;
  while (blocks.ReadyForWholeRow()) {
    const char* const next = reader.Read(p, end, values);
    if (next == nullptr || !blocks.TakeWholeRow(values, reader.lines())) {
      blocks.MissedWholeRow();
      break;
    }
    p = next;
    ++rows;
  }
  return {static_cast<std::size_t>(p - chunk.data()), rows * reader.lines(), false, false};
}

// The row blocks from the data line `line` on. Kept out of its caller, so
// that the line walk inlined here has the registers to itself.
[[gnu::noinline]] void ReadRows(ByteReader& input, LineState& lines, std::string_view line,
                                RowBlocks& blocks, Findings* findings) {
  static constexpr std::array<std::string_view, 2> kMarkers = {doc::kRowOpenMarker,
                                                               doc::kRowCloseMarker};
  const ElementScanner scanner(doc::kResultRowElements, kMarkers);
  RowBlocks::Values found;
  // The first row's opening line may be the data line itself.
  const ElementScanner::Found data_line = scanner.ExtractPresent(line, found, doc::kRowOpenMarker);
  blocks.TakeLine(line, data_line.present, data_line.marker ? kOpens : 0, found);
  FixedBlockReader whole(doc::kResultRowElements, doc::kRowOpenMarker, doc::kRowCloseMarker);
  RowBlocks::Values whole_values;
  const std::uint64_t total = input.Total();
  auto take = [&](std::string_view text, const ElementScanner::LineFound& f) {
    return blocks.TakeLine(text, f.present, f.markers, found, f.only);
  };
  // The rest in one pass over the window: rows laid out as a writer lays
  // them out read whole, and every other line walked, its line breaks and
  // tags found together.
  auto scan = [&](std::string_view chunk, bool last) {
    ChunkTaken taken;
    for (;;) {
      const std::string_view rest = chunk.substr(taken.bytes);
      const ChunkTaken rows = TakeWholeRows(whole, rest, blocks, whole_values);
      const ChunkTaken walked = scanner.ScanLines(rest.substr(rows.bytes), last, found, take);
      taken.bytes += rows.bytes + walked.bytes;
      taken.lines += rows.lines + walked.lines;
      // Whole rows end in an LF; a walk that took nothing leaves it as it was.
      if (walked.bytes != 0)
        taken.after_cr = walked.after_cr;
      else if (rows.bytes != 0)
        taken.after_cr = false;
      if (!walked.stopped || !blocks.TakeYield()) {
        taken.stopped = walked.stopped;
        return taken;
      }
    }
  };
  const bool stopped = WalkContentInlined(input, lines, scan, [&] {
    blocks.Keep();  // the window is about to move
    if (findings != nullptr) findings->Progress(input.Consumed(), total, blocks.rows_read());
  });
  if (!stopped) TellNul(input, lines.lines(), findings);
  // A search that runs past the last line; counting ends there.
  if (!stopped && !blocks.counting()) blocks.RaiseUnfinished(lines.lines());
}

}  // namespace

bool ConvertDocumentToText(const char* input_path, const char* output_path,
                           std::int32_t* rows_count, char* nsr_buffer, char* reserved_buffer,
                           const ConvertOptions& options) {
  Findings* const findings = options.findings;
  ByteReader input(input_path);
  TemporariesToFindings temporaries(findings);
  LineWriter out(output_path, temporaries.listener());
  LineState lines;
  std::string_view line;
  const Header header = ReadHeader(input, lines, rows_count, line);
  RowBlocks blocks(out, header.rows, findings, lines.lines());
  if (header.rows > 0 || findings != nullptr) ReadRows(input, lines, line, blocks, findings);
  blocks.TellCount();
  CopyToCallerBuffer(header.nsr, nsr_buffer);
  CopyToCallerBuffer({}, reserved_buffer);
  if (blocks.incomplete() > 0) return false;
  input.Close();  // the output may be this very file
  out.Save();
  return true;
}

}  // namespace quorvel
