// Text file to exchange document.
//
// The header needs the row count before the first row, so the input is
// walked twice through the reader's window: a counting pass, then the
// converting pass, which must meet exactly the lines and bytes the count saw.
// The document is written piece by piece straight into the output stream,
// never built as separate lines.
#include <array>
#include <cstddef>
#include <utility>

#include "convert/bounds.h"
#include "convert/convert.h"
#include "convert/runs.h"
#include "convert/temporaries.h"
#include "convert/walk.h"
#include "document/layout.h"
#include "document/xml_bytes.h"
#include "io/input.h"
#include "io/output.h"
#include "platform/platform.h"
#include "text/lines.h"
#include "text/numbers.h"

namespace quorvel {
namespace {

namespace doc = document;

void WriteHeader(LineWriter& out, std::int32_t code, std::string_view title, std::string_view nsr,
                 std::string_view qymc, std::int32_t rows, const NumberText& date_text) {
  const NumberText code_text = FormatDecimal(code);
  const NumberText rows_text = FormatDecimal(rows);
  out.AppendLine(doc::kDeclarationLine);
  out.Append(doc::kDoctypeBegin);
  out.Append(code_text.view());
  out.Append(doc::kDoctypeMiddle);
  out.Append(code_text.view());
  out.AppendLine(doc::kDoctypeEnd);
  out.AppendLine(doc::kBodyOpenLine);
  out.AppendLine(doc::kHeadOpenLine);
  const std::string_view header[][3] = {
      {doc::kCodeBegin, code_text.view(), doc::kCodeEnd},
      {doc::kTitleBegin, title, doc::kTitleEnd},
      {doc::kNsrBegin, nsr, doc::kNsrEnd},
      {doc::kQymcBegin, qymc, doc::kQymcEnd},
      {doc::kScrqBegin, date_text.view(), doc::kScrqEnd},
      {doc::kRowsBegin, rows_text.view(), doc::kRowsEnd},
  };
  for (const auto& [begin, value, end] : header) {
    out.Append(begin);
    out.Append(value);
    out.AppendLine(end);
  }
  out.AppendLine(doc::kHeadCloseLine);
}

// The `sy` value of a full row: the ninth field when it begins with "A",
// otherwise its 64-bit integer value as sixteen upper-case hexadecimal digits.
// Raises "'<field>' is not a valid integer value". `readable_end` ends the
// bytes that may be read from text.data() on.
struct SyValue {
  std::string_view text;
  const char* readable_end = nullptr;
  NumberText hex;
};

void EncodeSy(std::string_view field, const char* line_end, SyValue& sy) {
  if (!field.empty() && field[0] == 'A') {
    sy.text = field;
    sy.readable_end = line_end;
  } else {
    sy.hex = FormatHex64(ParseInt64(field), 16);
    sy.text = sy.hex.view();
    sy.readable_end = sy.hex.bytes + sizeof sy.hex.bytes;
  }
}

// The values of a row and where the bytes that may be read after them end.
struct RowValues {
  const DecimalCounter& id;
  const FieldList& fields;
  const SyValue& sy;
  const char* line_end;
};

// The joint before field K and the field, for each K given: the indices are
// constants, so each joint is copied with its size known.
template <typename Out, std::size_t N, std::size_t... K>
void WriteJointsAndFields(Out& out, const std::array<doc::Joint, N>& joints, const RowValues& row,
                          std::index_sequence<K...>) {
  ((out.AppendPiece(joints[K]), out.AppendValue(row.fields[K], row.line_end)), ...);
}

// One row: its opening line, the element lines of its kind (none for a line
// that is neither a full nor a short record), its closing line, written as
// the layout's joints with the values between them. `Out` is a ReservedRun
// (room for the row and its slack) or a CheckedRun.
template <typename Out>
[[gnu::always_inline]] inline void WriteRow(Out& out, const RowValues& row) {
  out.Append(doc::kRowBegin);
  out.AppendValue(row.id.view(), row.id.readable_end());
  if (row.fields.count() == 10) {
    const auto& joints = doc::kFullRowJoints;
    WriteJointsAndFields(out, joints, row, std::make_index_sequence<7>());
    out.AppendPiece(joints[7]);
    out.AppendEscaped(row.fields[7]);
    out.AppendPiece(joints[8]);
    out.AppendValue(row.sy.text, row.sy.readable_end);
    out.AppendPiece(joints[9]);
    out.AppendValue(row.fields[9], row.line_end);
    out.AppendPiece(joints[10]);
  } else if (row.fields.count() == 8) {
    const auto& joints = doc::kShortRowJoints;
    WriteJointsAndFields(out, joints, row, std::make_index_sequence<8>());
    out.AppendPiece(joints[8]);
  } else {
    out.AppendPiece(doc::kEmptyRowJoint);
  }
}

// WriteRow into reserved room when the row's bound allows, else through the
// writer's checked appends.
void WriteRowOut(LineWriter& out, const RowValues& row, std::string_view line) {
  WriteBounded(out, RowRoom<std::size_t>(line.size()), [&](auto& run) { WriteRow(run, row); });
}

// Tells `findings` of the first byte of `value` that XML parsers reject.
void TellIfRejected(Findings& findings, std::int64_t line, const doc::ElementTags& element,
                    std::string_view value, doc::Written written) {
  const doc::UnfitAt unfit = doc::FirstUnfit(value, written);
  if (unfit.why != doc::Unfit::kNone) {
    findings.Rejected({line, element.name(), value[unfit.at], unfit.why});
  }
}

// Whether a value of the row may be unfit for the document: the
// line's bytes are looked at in three runs, mw's as it is written and the
// rest raw. The values are pieces of the line and the TABs between them are
// never unfit (nor part of a character), so a clean line spares the look at each value; a hexadecimal
// sy (not in the line) has only digits.
bool MayHoldRejected(const FieldList& fields, std::string_view text) {
  auto unfit = [](std::string_view run, doc::Written written) {
    return doc::FirstUnfit(run, written).why != doc::Unfit::kNone;
  };
  if (fields.count() != 10) return unfit(text, doc::Written::kRaw);
  const std::string_view mw = fields[7];
  const auto mw_at = static_cast<std::size_t>(mw.data() - text.data());
  return unfit(text.substr(0, mw_at), doc::Written::kRaw) ||
         unfit(mw, doc::Written::kEscaped) ||
         unfit(text.substr(mw_at + mw.size()), doc::Written::kRaw);
}

// What input line `line` gives the findings: the values of its row that XML
// parsers reject, or the empty row it becomes.
void TellRow(Findings& findings, std::int64_t line, const FieldList& fields, const SyValue& sy,
             std::string_view text) {
  if ((fields.count() == 10 || fields.count() == 8) && !MayHoldRejected(fields, text)) return;
  if (fields.count() == 10) {
    for (std::int32_t k = 0; k < 10; ++k) {
      const auto& element = doc::kFullRowElements[static_cast<std::size_t>(k)];
      TellIfRejected(findings, line, element, k == 8 ? sy.text : fields[k],
                     k == 7 ? doc::Written::kEscaped : doc::Written::kRaw);
    }
  } else if (fields.count() == 8) {
    for (std::int32_t k = 0; k < 8; ++k) {
      TellIfRejected(findings, line, doc::kShortRowElements[static_cast<std::size_t>(k)], fields[k],
                     doc::Written::kRaw);
    }
  } else {
    findings.EmptyRow(line, fields.count(), text);
  }
}

// The rows, one per input line of the converting pass; `rows` were counted.
// Returns the lines and bytes the pass met.
ContentSize WriteRows(ByteReader& input, LineWriter& out, std::int32_t rows, Findings* findings) {
  FieldList fields;
  SyValue sy;
  std::int32_t id = 0;
  DecimalCounter id_text;
  LineState lines;
  const std::uint64_t total = input.Total();
  // One pass over the window finds the line breaks and the TABs together.
  auto scan = [&](std::string_view chunk, bool last) {
    return ScanRecords(chunk, last, fields, [&](const FieldList& record, std::string_view text) {
      // A line beyond the count: the file changed between the passes.
      if (id == rows) input.RaiseCannotOpen();
      ++id;
      id_text.Next();
      const char* const line_end = text.data() + text.size();
      if (record.count() == 10) EncodeSy(record[8], line_end, sy);
      if (findings != nullptr) TellRow(*findings, id, record, sy, text);
      WriteRowOut(out, {id_text, record, sy, line_end}, text);
      return true;
    });
  };
  WalkContent(input, lines, scan, [&] {
    if (findings != nullptr) findings->Progress(input.Consumed(), total, id);
  });
  return {lines.lines(), input.Consumed()};
}

}  // namespace

NumberText DocumentDate(const Date* date) {
  if (date != nullptr) return FormatYyyymmdd(date->year, date->month, date->day);
  const platform::LocalDate today = platform::Current().local_date();
  return FormatYyyymmdd(today.year, today.month, today.day);
}

void ConvertTextToDocument(const char* input_path, const char* output_path, std::int32_t code,
                           std::string_view title, std::string_view nsr, std::string_view qymc,
                           const ConvertOptions& options) {
  Findings* const findings = options.findings;
  ByteReader input(input_path);
  LineState counting;
  WalkContent(input, counting, CountWholeLines, [] {});
  const ContentSize counted = {counting.lines(), input.Consumed()};
  const auto rows = static_cast<std::int32_t>(counted.lines);
  TellNul(input, counted.lines, findings);
  input.Rewind();
  if (findings != nullptr) {
    TellIfRejected(*findings, 0, doc::kNsrElement, nsr, doc::Written::kRaw);
    TellIfRejected(*findings, 0, doc::kQymcElement, qymc, doc::Written::kRaw);
  }
  TemporariesToFindings temporaries(findings);
  LineWriter out(output_path, temporaries.listener());
  WriteHeader(out, code, title, nsr, qymc, rows, DocumentDate(options.date));
  if (rows > 0) {
    out.AppendLine(doc::kDataOpenLine);
    // The rows written are the rows counted, byte for byte in number, or
    // the document's row count would not match its rows.
    if (WriteRows(input, out, rows, findings) != counted) input.RaiseCannotOpen();
    out.AppendLine(doc::kDataCloseLine);
  }
  out.AppendLine(doc::kBodyCloseLine);
  input.Close();  // the output may be this very file
  if (findings != nullptr) findings->RowsWritten(rows);
  out.Save();
}

}  // namespace quorvel
