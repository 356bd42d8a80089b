// xml2txt, and check on a returned document: the library reads the document
// (converted to UTF-8 first with --encoding utf-8, or copied from a stream)
// and names the incomplete rows it finds as it reads.
#include "charset/utf8.h"
#include "commands/commands.h"
#include "commands/context.h"
#include "commands/inputs.h"
#include "library/conversions.h"
#include "present/observer.h"

namespace quorvel::cli {
namespace {

// With --encoding utf-8 the library reads the document converted to UTF-8:
// it is byte-transparent and every marker it looks for is ASCII, so it
// writes the UTF-8 text itself, through its own safe save.
int PrepareDocument(Context& context, const Endpoint& in, LibraryInput* document) {
  return PrepareInput(context, in, Charset::kGbk, context.utf8() ? Charset::kUtf8 : Charset::kGbk,
                      document);
}

// The nsr as the text side shows it. The library cuts it at 255 bytes, which
// can split a UTF-8 character: that piece is dropped.
std::string ShownNsr(const Context& context, const std::string& nsr) {
  if (!context.utf8()) return nsr;
  const std::size_t bad = FindInvalidUtf8(nsr);
  if (bad != std::string::npos && nsr.size() - bad < 4) return nsr.substr(0, bad);
  return nsr;
}

// Names the incomplete rows the library found: the first kShownNotes, then
// a count.
void ReportIncompleteRows(const Context& context, const Observer& found) {
  for (const IncompleteNote& row : found.incomplete()) {
    context.report().Error("row " + row.Name() + " (lines " + std::to_string(row.first_line) + "-" +
                           std::to_string(row.last_line) + "): no " + row.Missing());
  }
  const auto more = found.incomplete_count() - static_cast<std::int64_t>(found.incomplete().size());
  if (more > 0) context.report().Error(std::to_string(more) + " more incomplete rows");
}

}  // namespace

int Xml2TxtCommand(Context& context) {
  Endpoint in;
  Endpoint out;
  if (!context.ResolveInputAndOutput(&in, &out)) return kExitFailed;
  LibraryInput document;
  if (const int code = PrepareDocument(context, in, &document); code != kGoOn) return code;
  TempFile spool;
  if (out.standard && !context.CreateTemp(&spool)) return context.OwnFailureCode();
  const std::string& target = out.standard ? spool.path() : out.path;
  context.names().Add(target, out.shown);
  Observer found;
  const DocumentOutcome result = DocumentToText(document.path, target, {&found});
  const Outcome& outcome = result.outcome;
  if (outcome.failed) return context.ReportFailure(outcome, false);
  // Both remaining outcomes have read every row: the count and nsr are set.
  if (outcome.ok && !context.Deliver(out, spool)) return kExitFailed;
  context.report().Info("rows: " + std::to_string(result.rows));
  context.report().Info("nsr: " + ShownNsr(context, result.nsr));
  if (!outcome.ok) {
    ReportIncompleteRows(context, found);
    context.report().Error(
        std::to_string(found.incomplete_count()) + " of " + Counted(result.rows, "row") +
        (found.incomplete_count() == 1 ? " lacks some of its" : " lack some of their") +
        " eleven values; nothing was written");
    return kExitIncomplete;
  }
  context.report().Info("wrote " + out.shown);
  return kExitOk;
}

int CheckDocumentCommand(Context& context, const Endpoint& in, const LibraryInput& plain) {
  LibraryInput converted;
  const bool convert = context.utf8();
  if (convert) {
    const Endpoint copy{in.shown, plain.path, false};
    if (const int code = PrepareDocument(context, copy, &converted); code != kGoOn) return code;
  }
  TempFile scratch;
  if (!context.CreateTemp(&scratch)) return context.OwnFailureCode();
  context.names().Add(scratch.path(), "a temporary file");
  Observer found;
  const DocumentOutcome result =
      DocumentToText(convert ? converted.path : plain.path, scratch.path(), {&found});
  const Outcome& outcome = result.outcome;
  if (FailedAtOutput(outcome)) return context.ReportOutputFailure(outcome);
  if (OutOfMemory(outcome)) return context.ReportFailure(outcome, false);
  std::string summary = in.shown + ": returned document";
  int code = kExitOk;
  if (outcome.failed) {
    code = context.ReportFailure(outcome, false);
    summary += ": would fail";
  } else {
    summary += ", " + Counted(result.rows, "row") + ", nsr " + ShownNsr(context, result.nsr);
    if (outcome.ok) {
      summary += ": converts cleanly";
    } else {
      code = kExitIncomplete;
      ReportIncompleteRows(context, found);
      summary += ": " + Counted(found.incomplete_count(), "incomplete row");
    }
  }
  return context.Summarize(summary) ? code : kExitFailed;
}

}  // namespace quorvel::cli
