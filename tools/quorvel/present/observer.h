// What a conversion finds, kept while it runs so that the command can report
// it afterwards: the lines that became empty rows, the incomplete row
// blocks, the rows written. The save's temporary file goes on the list that
// an interruption removes. With `stop_on_empty_rows` (--strict) a text that
// has such lines is stopped once it has been read whole, so that every one
// is named and nothing is written.
#ifndef QUORVEL_TOOLS_PRESENT_OBSERVER_H
#define QUORVEL_TOOLS_PRESENT_OBSERVER_H

#include <cstdint>
#include <string>
#include <vector>

#include "convert/findings.h"

namespace quorvel::cli {

// Diagnostics name this many lines or rows, then count the rest.
inline constexpr std::size_t kShownNotes = 20;

struct EmptyRowNote {
  std::int64_t line = 0;
  std::int32_t fields = 0;
};

struct IncompleteNote {
  std::int64_t ordinal = 0;
  std::string id;
  std::int64_t first_line = 0;
  std::int64_t last_line = 0;
  std::uint32_t missing = 0;

  // "2" for id="2"; "#3" (the third block) when the opening line has no id.
  std::string Name() const;
  // The names of the missing values, in element order: "jg, rq".
  std::string Missing() const;
};

class Observer : public Findings {
 public:
  explicit Observer(bool stop_on_empty_rows = false) : stop_on_empty_rows_(stop_on_empty_rows) {}

  void EmptyRow(std::int64_t line, std::int32_t fields, std::string_view text) override;
  void RowsWritten(std::int64_t rows) override;
  void Incomplete(const IncompleteRow& row) override;
  void Temporary(std::string_view path, bool held) override;

  const std::vector<EmptyRowNote>& empty_rows() const { return empty_rows_; }
  std::int64_t empty_row_count() const { return empty_row_count_; }
  const std::vector<IncompleteNote>& incomplete() const { return incomplete_; }
  std::int64_t incomplete_count() const { return incomplete_count_; }
  std::int64_t rows_written() const { return rows_written_; }
  // This observer stopped the conversion (what it raised is no failure of
  // the conversion's own).
  bool stopped() const { return stopped_; }

 private:
  bool stop_on_empty_rows_;
  bool stopped_ = false;
  std::vector<EmptyRowNote> empty_rows_;
  std::int64_t empty_row_count_ = 0;
  std::vector<IncompleteNote> incomplete_;
  std::int64_t incomplete_count_ = 0;
  std::int64_t rows_written_ = -1;
};

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_PRESENT_OBSERVER_H
