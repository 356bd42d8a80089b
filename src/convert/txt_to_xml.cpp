// Text file to exchange document.
//
// The input is held as one buffer and walked in place; the document is
// appended piece by piece straight into the output stream, never built as
// separate lines. Only the row count must be known before the first row, and
// a counting pass over the buffer gives it.
#include <cstddef>

#include "convert/convert.h"
#include "document/layout.h"
#include "text/bytes.h"
#include "text/line_writer.h"
#include "text/lines.h"
#include "text/numbers.h"

namespace quorvel {
namespace {

namespace doc = document;

void WriteElement(LineWriter& out, std::string_view name, std::string_view value) {
  out.Append(doc::kElementIndent);
  out.Append("<");
  out.Append(name);
  out.Append(">");
  out.Append(value);
  out.Append("</");
  out.Append(name);
  out.AppendLine(">");
}

void WriteHeader(LineWriter& out, std::int32_t code, std::string_view title, std::string_view nsr,
                 std::string_view qymc, std::int32_t rows) {
  const NumberText code_text = FormatDecimal(code);
  const NumberText date_text = TodayAsYyyymmdd();
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

// The ninth field of a full row: kept when it begins with "A", otherwise read
// as a 64-bit integer and written as sixteen upper-case hexadecimal digits.
void WriteSyElement(LineWriter& out, std::string_view field) {
  if (!field.empty() && field[0] == 'A') {
    WriteElement(out, "sy", field);
  } else {
    WriteElement(out, "sy", FormatHex64(ParseInt64(field), 16).view());
  }
}

void WriteRow(LineWriter& out, std::int32_t id, std::string_view line, FieldList& fields) {
  out.Append(doc::kRowBegin);
  out.Append(FormatDecimal(id).view());
  out.AppendLine(doc::kRowEnd);
  const std::int32_t count = SplitTabFields(line, fields);
  if (count == 10) {
    for (std::int32_t k = 0; k < 7; ++k) WriteElement(out, doc::kFullRowElements[k], fields[k]);
    out.Append(doc::kElementIndent);
    out.Append("<mw>");
    EscapeAngleBracketsTo(fields[7], [&out](std::string_view piece) { out.Append(piece); });
    out.AppendLine("</mw>");
    WriteSyElement(out, fields[8]);
    WriteElement(out, doc::kFullRowElements[9], fields[9]);
  } else if (count == 8) {
    for (std::int32_t k = 0; k < 8; ++k) WriteElement(out, doc::kShortRowElements[k], fields[k]);
  }
  out.AppendLine(doc::kRowCloseLine);
}

}  // namespace

void ConvertTextToDocument(const char* input_path, const char* output_path, std::int32_t code,
                           std::string_view title, std::string_view nsr, std::string_view qymc) {
  LineList input;
  input.Load(input_path);
  const std::int32_t rows = input.Count();
  LineWriter out(output_path);
  WriteHeader(out, code, title, nsr, qymc, rows);
  if (rows > 0) {
    out.AppendLine(doc::kDataOpenLine);
    FieldList fields;
    LineCursor line = input.CursorAt(0);
    for (std::int32_t id = 1; id <= rows; ++id, line.Advance()) {
      WriteRow(out, id, line.line(), fields);
    }
    out.AppendLine(doc::kDataCloseLine);
  }
  out.AppendLine(doc::kBodyCloseLine);
  out.Save();
}

}  // namespace quorvel
