#include "present/observer.h"

#include "document/layout.h"
#include "system/temporaries.h"

namespace quorvel::cli {
namespace {

// Raised to stop a conversion; the conversion unwinds and writes nothing.
struct StopConversion {};

}  // namespace

std::string IncompleteNote::Name() const {
  if (!id.empty()) return id;
  std::string name(1, '#');  // (not "#" + ...: GCC 12 warns falsely at -O3)
  return name.append(std::to_string(ordinal));
}

std::string IncompleteNote::Missing() const {
  std::string names;
  for (std::size_t k = 0; k < document::kResultRowElements.size(); ++k) {
    if ((missing & (1u << k)) == 0) continue;
    if (!names.empty()) names += ", ";
    names += document::kResultRowElements[k];
  }
  return names;
}

void Observer::EmptyRow(std::int64_t line, std::int32_t fields, std::string_view) {
  if (empty_rows_.size() < kShownNotes) empty_rows_.push_back({line, fields});
  ++empty_row_count_;
}

void Observer::RowsWritten(std::int64_t rows) {
  rows_written_ = rows;
  if (stop_on_empty_rows_ && empty_row_count_ > 0) {
    stopped_ = true;
    throw StopConversion{};
  }
}

void Observer::Incomplete(const IncompleteRow& row) {
  if (incomplete_.size() < kShownNotes) {
    incomplete_.push_back(
        {row.ordinal, std::string(row.id), row.first_line, row.last_line, row.missing});
  }
  ++incomplete_count_;
}

void Observer::Temporary(std::string_view path, bool held) {
  if (held) {
    RememberTemporary(path);
  } else {
    ForgetTemporary(path);
  }
}

}  // namespace quorvel::cli
