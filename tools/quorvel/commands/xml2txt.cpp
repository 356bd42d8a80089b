// xml2txt, and check on a returned document: the library reads the document
// (converted to UTF-8 first with --encoding utf-8, or copied from a stream)
// and names the incomplete rows it finds as it reads.
#include "charset/utf8.h"
#include "commands/commands.h"
#include "commands/context.h"
#include "commands/inputs.h"
#include "commands/verdicts.h"
#include "library/conversions.h"
#include "present/observer.h"
#include "system/system.h"

namespace quorvel::cli {
namespace {

// With --encoding utf-8 the library reads the document converted to UTF-8:
// it is byte-transparent and every marker it looks for is ASCII, so it
// writes the UTF-8 text itself, through its own safe save.
int PrepareDocument(Context& context, const Endpoint& in, OpenedInput& opened,
                    LibraryInput* document) {
  const Charset text = context.utf8() ? Charset::kUtf8 : Charset::kGbk;
  return PrepareInput(context, in, opened, Charset::kGbk, text, document);
}

// The nsr as the program shows it. The library cuts it at 255 bytes, which
// can split a character: that piece is dropped.
std::string ShownNsr(const Context& context, const std::string& nsr) {
  const std::string shown = context.utf8() ? nsr : context.ShownText(nsr);
  const std::size_t bad = FindInvalidUtf8(shown);
  const bool utf8 = context.utf8() || ArgumentCharset() == Charset::kUtf8;
  if (utf8 && bad != std::string::npos && shown.size() - bad < 4) return shown.substr(0, bad);
  return shown;
}

DocumentOutcome Convert(const LibraryInput& document, const std::string& target, Observer* found) {
  if (!document.temp.path().empty()) found->ReadsACopy();
  DocumentOutcome result = DocumentToText(document.path, target, {found});
  found->Done();
  return result;
}

}  // namespace

int Xml2TxtCommand(Context& context) {
  Endpoint in;
  Endpoint out;
  OpenedInput opened;
  LibraryInput document;
  if (!context.ResolveInputAndOutput(&in, &out)) return kExitFailed;
  if (const int code = OpenInput(context, in, &opened); code != kGoOn) return code;
  if (!opened.head.document && !opened.head.blank) {
    context.report().Error(in.shown + ": this is a text, not an exchange document: " +
                           "'quorvel txt2xml' converts it");
    return kExitFailed;
  }
  if (const int code = PrepareDocument(context, in, opened, &document); code != kGoOn) return code;
  TempFile spool;
  const std::string* target = context.TargetFor(out, &spool);
  if (target == nullptr) return context.OwnFailureCode();
  Observer found(PolicyOf(context.request()));
  if (context.WritesStandardOutput()) found.WritesAStream();
  const DocumentOutcome result = Convert(document, *target, &found);
  const Outcome& outcome = result.outcome;
  ReportNul(context, in, found);
  if (found.stopped()) {
    ReportRowCount(context, in, found);
    ReportRefusal(context, in, found, true);
    return kExitFailed;
  }
  if (outcome.failed) return context.ReportFailure(outcome, {in.shown, out.shown}, false);
  // Both remaining outcomes have read every row: the count and nsr are set.
  if (outcome.ok && !context.Deliver(out, spool)) return kExitFailed;
  context.report().Info("rows: " + std::to_string(result.rows));
  context.report().Info("nsr: " + ShownNsr(context, result.nsr));
  ReportRowCount(context, in, found);
  if (!outcome.ok) {
    ReportIncompleteRows(context, found);
    const std::int64_t count = found.incomplete().count;
    context.report().Error(std::to_string(count) + " of " + Counted(result.rows, "row") +
                           (count == 1 ? " lacks some of its" : " lack some of their") +
                           " eleven values; nothing was written");
    return kExitIncomplete;
  }
  context.report().Info("wrote " + out.shown);
  return kExitOk;
}

int CheckDocumentCommand(Context& context, const Endpoint& in, OpenedInput& opened) {
  LibraryInput document;
  if (const int code = PrepareDocument(context, in, opened, &document); code != kGoOn) {
    if (code == kExitFailed) context.Summarize(in.shown + ": returned document: would fail");
    return code;
  }
  TempFile scratch;
  const std::string* target = context.ScratchFor(&scratch);
  if (target == nullptr) return context.OwnFailureCode();
  Observer found(PolicyOf(context.request()));
  const DocumentOutcome result = Convert(document, *target, &found);
  const Outcome& outcome = result.outcome;
  const Subject subject{in.shown, "a temporary file"};
  // (What stops the conversion is captured as a failure to make its output.)
  if (!found.stopped() && FailedAtOutput(outcome)) {
    return context.ReportOutputFailure(outcome, subject);
  }
  if (OutOfMemory(outcome)) return context.ReportFailure(outcome, subject, false);
  std::string summary = in.shown + ": returned document";
  int code = kExitFailed;
  ReportNul(context, in, found);
  ReportRowCount(context, in, found);
  if (found.stopped()) {
    ReportRefusal(context, in, found, false);
  } else if (outcome.failed) {
    context.ReportFailure(outcome, subject, false);
  } else {
    summary += ", " + Counted(result.rows, "row") + ", nsr " + ShownNsr(context, result.nsr);
    code = !outcome.ok ? kExitIncomplete : found.warnings() > 0 ? kExitWarnings : kExitOk;
    if (!outcome.ok) ReportIncompleteRows(context, found);
  }
  summary += code == kExitOk           ? ": converts cleanly"
             : code == kExitWarnings   ? ": converts, with warnings"
             : code == kExitIncomplete ? ": " + Counted(found.incomplete().count, "incomplete row")
                                       : ": would fail";
  return context.Summarize(summary) ? code : kExitFailed;
}

}  // namespace quorvel::cli
