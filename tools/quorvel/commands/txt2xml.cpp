// txt2xml, and check on a text: the library converts the text (or its
// private copy in GBK) and tells what it finds as it reads.
#include "charset/utf8.h"
#include "commands/commands.h"
#include "commands/context.h"
#include "commands/inputs.h"
#include "commands/verdicts.h"
#include "library/conversions.h"
#include "present/observer.h"

namespace quorvel::cli {
namespace {

// The character set the text is read in: --encoding (gbk meaning its bytes
// as they are), else its byte order mark, else GBK.
Charset TextCharset(const Request& request, const Head& head) {
  if (!request.encoding_given) return head.bom.value_or(Charset::kGbk);
  const bool utf16_mark = head.bom && IsUtf16(*head.bom);
  return IsUtf16(request.encoding) && utf16_mark ? *head.bom : request.encoding;
}

// Refuses what is plainly no text for txt2xml: a document, or UTF-8
// without a mark when --encoding does not say what it is. kGoOn otherwise.
int RefuseNonText(const Context& context, const Endpoint& in, const Head& head) {
  if (head.document) {
    context.report().Error(in.shown + ": this is an exchange document, not a text: " +
                           "'quorvel xml2txt' converts it");
    return kExitFailed;
  }
  if (!context.request().encoding_given && head.looks_utf8) {
    context.report().Error(in.shown + ": looks like UTF-8: --encoding utf-8 converts it to GBK, " +
                           "--encoding gbk keeps its bytes as they are");
    return kExitFailed;
  }
  return kGoOn;
}

// The text made ready for the library, and the header values in GBK.
struct PreparedText {
  LibraryInput input;
  std::string nsr;
  std::string qymc;
};

// Opens and prepares the text `in`; kGoOn or the exit code.
int PrepareText(Context& context, const Endpoint& in, OpenedInput& opened, PreparedText* text) {
  const Request& request = context.request();
  if (!context.ValueForLibrary("--nsr", request.nsr, &text->nsr) ||
      !context.ValueForLibrary("--qymc", request.qymc, &text->qymc)) {
    return kExitFailed;
  }
  if (const int code = RefuseNonText(context, in, opened.head); code != kGoOn) return code;
  return PrepareInput(context, in, opened, TextCharset(request, opened.head), Charset::kGbk,
                      &text->input);
}

// Converts the prepared text into `target`.
Outcome Convert(const Context& context, const PreparedText& text, const std::string& target,
                Observer* found) {
  const Request& request = context.request();
  if (!text.input.temp.path().empty()) found->ReadsACopy();
  ConvertOptions options{found, request.date ? &*request.date : nullptr};
  const Outcome outcome =
      TextToDocument(text.input.path, target, request.type, text.nsr, text.qymc, options);
  found->Done();
  return outcome;
}

}  // namespace

int Txt2XmlCommand(Context& context) {
  const Request& request = context.request();
  Endpoint in;
  Endpoint out;
  OpenedInput opened;
  PreparedText text;
  if (!context.ResolveInputAndOutput(&in, &out)) return kExitFailed;
  if (const int code = OpenInput(context, in, &opened); code != kGoOn) return code;
  if (const int code = PrepareText(context, in, opened, &text); code != kGoOn) return code;
  if (WarnOfType(context) && request.strict) {
    context.report().Error("--strict: 1 warning; nothing was written");
    return kExitFailed;
  }
  TempFile spool;
  const std::string* target = context.TargetFor(out, &spool);
  if (target == nullptr) return context.OwnFailureCode();
  Observer found(PolicyOf(request));
  if (context.WritesStandardOutput()) found.WritesAStream();
  const Outcome outcome = Convert(context, text, *target, &found);
  if (found.stopped()) {
    ReportTextFindings(context, in, found);
    ReportRefusal(context, in, found, true);
    return kExitFailed;
  }
  if (!outcome.ok) return context.ReportFailure(outcome, {in.shown, out.shown}, true);
  if (!context.Deliver(out, spool)) return kExitFailed;
  ReportTextFindings(context, in, found);
  context.report().Info("wrote " + out.shown + ": " + Counted(found.rows_written(), "row"));
  return kExitOk;
}

int CheckTextCommand(Context& context, const Endpoint& in, OpenedInput& opened) {
  const Request& request = context.request();
  PreparedText text;
  if (const int code = PrepareText(context, in, opened, &text); code != kGoOn) {
    if (code == kExitFailed) context.Summarize(in.shown + ": text: would fail");
    return code;
  }
  const bool type_warning = WarnOfType(context);
  TempFile scratch;
  const std::string* target = context.ScratchFor(&scratch);
  if (target == nullptr) return context.OwnFailureCode();
  Observer found(PolicyOf(request));
  if (type_warning) found.AddWarning();
  const Outcome outcome = Convert(context, text, *target, &found);
  const Subject subject{in.shown, "a temporary file"};
  // (What stops the conversion is captured as a failure to make its output.)
  if (!found.stopped() && FailedAtOutput(outcome)) {
    return context.ReportOutputFailure(outcome, subject);
  }
  if (OutOfMemory(outcome)) return context.ReportFailure(outcome, subject, false);
  ReportTextFindings(context, in, found);
  if (found.stopped()) ReportRefusal(context, in, found, false);
  if (outcome.failed && !found.stopped()) context.ReportFailure(outcome, subject, true);
  const bool warned = found.warnings() > 0;
  const int code = !outcome.ok                ? kExitFailed
                   : warned && request.strict ? kExitFailed
                   : warned                   ? kExitWarnings
                                              : kExitOk;
  std::string summary = in.shown + ": text";
  if (code != kExitFailed) summary += ", " + Counted(found.rows_written(), "row");
  summary += code == kExitOk         ? ": converts cleanly"
             : code == kExitWarnings ? ": converts, with warnings"
                                     : ": would fail";
  return context.Summarize(summary) ? code : kExitFailed;
}

}  // namespace quorvel::cli
