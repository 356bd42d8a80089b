// What a conversion finds, kept while it runs so that the command can report
// it afterwards: the lines that became empty rows, the values XML parsers
// will reject, the incomplete row blocks, the rows value against the blocks,
// the rows written. It draws the progress line, and puts the save's
// temporary file on the list that an interruption removes.
//
// A conversion that found what the command refuses (lines of neither 10 nor
// 8 fields unless empty rows are allowed; with --strict any warning) is
// stopped once it has read its input whole, before anything is put in
// place, so that every such finding is named and nothing is written.
#ifndef QUORVEL_TOOLS_PRESENT_OBSERVER_H
#define QUORVEL_TOOLS_PRESENT_OBSERVER_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "convert/findings.h"
#include "present/progress.h"

namespace quorvel::cli {

// Diagnostics name this many lines or rows, then count the rest.
inline constexpr std::size_t kShownNotes = 20;

struct EmptyRowNote {
  std::int64_t line = 0;
  std::int32_t fields = 0;
};

struct RejectedNote {
  std::int64_t line = 0;  // 0: a header value
  std::string element;
  char byte = 0;
  document::Unfit why = document::Unfit::kByte;
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

// Found things of one kind: the first kShownNotes, and how many in all.
template <typename Note>
struct Notes {
  std::vector<Note> shown;
  std::int64_t count = 0;

  void Add(Note note) {
    if (shown.size() < kShownNotes) shown.push_back(std::move(note));
    ++count;
  }
  std::int64_t more() const { return count - static_cast<std::int64_t>(shown.size()); }
};

struct Policy {
  bool allow_empty_rows = false;
  bool strict = false;
  bool progress = false;  // draw the progress line (on a terminal)
};

class Observer : public Findings {
 public:
  explicit Observer(Policy policy = {}) : policy_(policy), progress_(policy.progress) {}

  void Progress(std::uint64_t done, std::uint64_t total, std::int64_t rows) override;
  void EmptyRow(std::int64_t line, std::int32_t fields, std::string_view text) override;
  void Rejected(const RejectedValue& value) override;
  void EndedAtNul(const NulEnd& end) override;
  void RowsWritten(std::int64_t rows) override;
  void Incomplete(const IncompleteRow& row) override;
  void RowCount(std::int32_t declared, std::int64_t blocks) override;
  void Temporary(std::string_view path, bool held) noexcept override;
  void WritingInPlace(bool writing) noexcept override;

  // The library reads a private copy of the input, which ends a few bytes
  // after a NUL the copy met: what it says follows the NUL is no count.
  void ReadsACopy() { copy_ = true; }
  // Where a NUL ended the content early, if it did.
  const std::optional<NulEnd>& nul() const { return nul_; }

  // The target is a pipe or a device, which a finished write would not
  // leave whole either: an interruption ends the program at once instead of
  // waiting for a reader that may never take the rest.
  void WritesAStream() { stream_ = true; }

  // Counts a warning of the command's own (found before converting).
  void AddWarning() { ++own_warnings_; }
  // Erases the progress line: run when the conversion has returned.
  void Done() { progress_.Erase(); }

  const Notes<EmptyRowNote>& empty_rows() const { return empty_rows_; }
  const Notes<RejectedNote>& rejected() const { return rejected_; }
  const Notes<IncompleteNote>& incomplete() const { return incomplete_; }
  std::int64_t rows_written() const { return rows_written_; }
  // The rows value differs from the row blocks the document holds.
  bool rows_differ() const { return declared_ != blocks_; }
  std::int32_t declared() const { return declared_; }
  std::int64_t blocks() const { return blocks_; }
  // Warnings: values XML parsers reject, a NUL that ends the content early,
  // a rows value that differs, empty rows where they are allowed, and the
  // command's own.
  std::int64_t warnings() const;
  // This observer stopped the conversion (what it raised is no failure of
  // the conversion's own).
  bool stopped() const { return stopped_; }

 private:
  void StopIf(bool refused);

  Policy policy_;
  ProgressLine progress_;
  bool stopped_ = false;
  bool stream_ = false;
  Notes<EmptyRowNote> empty_rows_;
  Notes<RejectedNote> rejected_;
  Notes<IncompleteNote> incomplete_;
  std::int64_t rows_written_ = -1;
  std::int64_t own_warnings_ = 0;
  std::optional<NulEnd> nul_;
  bool copy_ = false;
  std::int32_t declared_ = 0;
  std::int64_t blocks_ = 0;
};

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_PRESENT_OBSERVER_H
