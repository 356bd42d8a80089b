#include "present/observer.h"

#include "document/layout.h"
#include "system/system.h"
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

void Observer::Progress(std::uint64_t done, std::uint64_t total, std::int64_t rows) {
  progress_.Update(done, total, rows);
}

void Observer::EmptyRow(std::int64_t line, std::int32_t fields, std::string_view) {
  empty_rows_.Add({line, fields});
}

void Observer::Rejected(const RejectedValue& value) {
  rejected_.Add({value.line, std::string(value.element), value.byte, value.why});
}

void Observer::EndedAtNul(const NulEnd& end) {
  nul_ = end;
  if (copy_) nul_->exact = false;
}

std::int64_t Observer::warnings() const {
  return own_warnings_ + rejected_.count + (nul_ ? 1 : 0) + (rows_differ() ? 1 : 0) +
         (policy_.allow_empty_rows ? empty_rows_.count : 0);
}

void Observer::StopIf(bool refused) {
  if (!refused) return;
  progress_.Erase();
  stopped_ = true;
  throw StopConversion{};
}

void Observer::RowsWritten(std::int64_t rows) {
  rows_written_ = rows;
  StopIf((!policy_.allow_empty_rows && empty_rows_.count > 0) ||
         (policy_.strict && warnings() > 0));
}

void Observer::Incomplete(const IncompleteRow& row) {
  incomplete_.Add({row.ordinal, std::string(row.id), row.first_line, row.last_line, row.missing});
}

void Observer::RowCount(std::int32_t declared, std::int64_t blocks) {
  declared_ = declared;
  blocks_ = blocks;
  StopIf(policy_.strict && warnings() > 0 && incomplete_.count == 0);
}

void Observer::Temporary(std::string_view path, bool held) noexcept {
  if (held) {
    RememberTemporary(path);
  } else {
    ForgetTemporary(path);
  }
}

void Observer::WritingInPlace(bool writing) noexcept {
  if (!stream_) DeferEnding(writing);
}

}  // namespace quorvel::cli
