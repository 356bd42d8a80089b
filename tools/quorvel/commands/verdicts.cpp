#include "commands/verdicts.h"

namespace quorvel::cli {
namespace {

// "'&'" for a printable byte, "byte 0x01" for any other.
std::string ByteName(char byte) {
  const auto value = static_cast<unsigned char>(byte);
  if (value > 0x20 && value < 0x7F) return std::string("'") + byte + "'";
  constexpr char kDigits[] = "0123456789ABCDEF";
  return std::string("byte 0x") + kDigits[value >> 4] + kDigits[value & 0xF];
}

// What is unfit, and what becomes of the document for it.
std::string Unfitness(const RejectedNote& note) {
  constexpr std::string_view kRejects = "XML parsers will reject the document";
  switch (note.why) {
    case document::Unfit::kLineBreak:
      return ByteName(note.byte) +
             ", a line break: the document holds an element a line, and "
             "'quorvel xml2txt' will not find it (make it one line)";
    case document::Unfit::kCdataEnd:
      return "']]>', written as it is: " + std::string(kRejects);
    case document::Unfit::kNotGbk:
      return ByteName(note.byte) + ", which is not GBK: " + std::string(kRejects) +
             " (--encoding names the text's character set)";
    case document::Unfit::kByte:
    case document::Unfit::kNone:
      break;
  }
  return ByteName(note.byte) + ", written as it is: " + std::string(kRejects);
}

void ReportRejected(const Context& context, const Endpoint& in, const RejectedNote& note) {
  const std::string what =
      note.line == 0 ? "--" + note.element : At(in, note.line) + " " + note.element;
  context.report().Error(what + " holds " + Unfitness(note));
}

}  // namespace

void ReportTextFindings(const Context& context, const Endpoint& in, const Observer& found) {
  ReportNul(context, in, found);
  const bool allowed = context.request().allow_empty_rows && !found.stopped();
  for (const EmptyRowNote& note : found.empty_rows().shown) {
    context.report().Error(At(in, note.line) + " " + Counted(note.fields, "field") +
                           (allowed ? ": written as an empty row" : ""));
  }
  if (const std::int64_t more = found.empty_rows().more(); more > 0) {
    context.report().Error(
        in.shown + ": " + std::to_string(more) + " more" +
        (allowed ? " lines written as empty rows" : " lines of neither 10 nor 8 fields"));
  }
  for (const RejectedNote& note : found.rejected().shown) ReportRejected(context, in, note);
  if (const std::int64_t more = found.rejected().more(); more > 0) {
    context.report().Error(in.shown + ": " + std::to_string(more) +
                           " more values XML parsers will reject");
  }
}

void ReportNul(const Context& context, const Endpoint& in, const Observer& found) {
  if (!found.nul()) return;
  const NulEnd& nul = *found.nul();
  context.report().Error(
      At(in, nul.line) + " a NUL byte ends the content here: " +
      (!nul.exact            ? std::string("what follows it is not read")
       : nul.following == 1 ? std::string("the 1 byte after it is not read")
                            : "the " + std::to_string(nul.following) + " bytes after it are not read"));
}

void ReportRefusal(const Context& context, const Endpoint& in, const Observer& found,
                   bool written) {
  const std::string nothing = written ? "; nothing was written" : "";
  const std::int64_t lines = found.empty_rows().count;
  if (lines > 0 && !context.request().allow_empty_rows) {
    context.report().Error(in.shown + ": " + Counted(lines, "line") +
                           " of neither 10 nor 8 fields" + nothing +
                           " (--allow-empty-rows writes them as empty rows)");
  } else if (context.request().strict) {
    context.report().Error("--strict: " + Counted(found.warnings(), "warning") + nothing);
  }
}

void ReportRowCount(const Context& context, const Endpoint& in, const Observer& found) {
  if (!found.rows_differ()) return;
  context.report().Error(in.shown + ": rows says " + std::to_string(found.declared()) +
                         ", but the document holds " + Counted(found.blocks(), "row block") +
                         ": only the first " + std::to_string(found.declared()) + " are converted");
}

void ReportIncompleteRows(const Context& context, const Observer& found) {
  for (const IncompleteNote& row : found.incomplete().shown) {
    context.report().Error("row " + row.Name() + " (lines " + std::to_string(row.first_line) + "-" +
                           std::to_string(row.last_line) + "): no " + row.Missing());
  }
  if (const std::int64_t more = found.incomplete().more(); more > 0) {
    context.report().Error(std::to_string(more) + " more incomplete rows");
  }
}

bool WarnOfType(const Context& context) {
  const std::int32_t type = context.request().type;
  if (type == 100 || type == 102) return false;
  context.report().Error("--type " + std::to_string(type) +
                         ": no title of its own (100 and 102 have one): the document is "
                         "titled as unknown data");
  return true;
}

Policy PolicyOf(const Request& request) {
  return {request.allow_empty_rows, request.strict, request.progress && !request.quiet};
}

}  // namespace quorvel::cli
