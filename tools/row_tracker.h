// The row blocks of a returned document, found line by line the way the
// library reads them: the data opening line is the first line after the
// document's first that contains "<data>"; a row opens at the first line from
// there that contains "<row" (the data line itself included) and closes at the
// next line after it that contains "</row>" (so the opening line's own
// "</row>" does not close it); the next row's search starts behind the
// closing line. Each block's values are what the library would take: the
// eleven elements, a later non-empty value replacing an earlier one.
//
// The tracker does not know how many rows the document's header announces:
// the library reads that many blocks and ignores the rest, so callers stop
// where it stops.
#ifndef QUORVEL_TOOLS_ROW_TRACKER_H
#define QUORVEL_TOOLS_ROW_TRACKER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "document/layout.h"
#include "text/element_scan.h"

namespace quorvel::cli {

// A place in a document: 1-based line and column (characters, the line read
// as UTF-8). Line 0: nowhere.
struct Place {
  std::int64_t line = 0;
  std::size_t column = 0;
};

struct RowBlock {
  static constexpr std::size_t kValues = document::kResultRowElements.size();

  std::int64_t ordinal = 0;     // 1 for the first block read
  std::int64_t first_line = 0;  // 1-based numbers of its opening and closing lines
  std::int64_t last_line = 0;
  std::string id;             // its opening line's id="..." value; empty when none
  std::uint32_t present = 0;  // bit k: value k of kResultRowElements was found
  // Where the kr and rq values the library takes begin, when one of their
  // first eight bytes is above 0x7F (line 0 otherwise): the library cuts
  // dates by bytes, and such a cut falls differently in GBK and in UTF-8.
  Place non_ascii_kr;
  Place non_ascii_rq;

  bool complete() const { return present == (1u << kValues) - 1; }
  // "2" for id="2"; "#3" (the third block) when the opening line has no id.
  std::string Name() const;
  // The names of the missing values, in element order: "jg, rq".
  std::string Missing() const;
};

class RowTracker {
 public:
  RowTracker();

  // Takes the next line of the document. True when this line closed a row
  // block, which block() then describes.
  bool Feed(std::string_view line);

  // Whether the line fed last belongs to a row block (its opening and closing
  // lines included); block() is that block, as far as it has been read.
  bool InBlock() const { return state_ == State::kInBlock || closed_; }
  const RowBlock& block() const { return block_; }

 private:
  enum class State { kBeforeData, kBetweenRows, kInBlock };

  void Open(std::string_view line);
  // Takes the values found on `line`; true when it holds "</row>".
  bool Take(std::string_view line, std::string_view marker);

  ElementScanner scanner_;
  State state_ = State::kBeforeData;
  std::int64_t line_ = 0;
  bool closed_ = false;
  RowBlock block_;
};

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_ROW_TRACKER_H
