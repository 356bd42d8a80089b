// txt2xml, and check on a text: the library converts the text (or its
// private copy) and tells what it finds as it reads.
#include "charset/utf8.h"
#include "commands/commands.h"
#include "commands/context.h"
#include "commands/inputs.h"
#include "library/conversions.h"
#include "present/observer.h"
#include "system/system.h"

namespace quorvel::cli {
namespace {

// Names the lines that became empty rows (or, with --strict, that stopped
// the conversion): the first kShownNotes, then a count.
void ReportEmptyRows(const Context& context, const Endpoint& in, const Observer& found,
                     bool strict) {
  for (const EmptyRowNote& note : found.empty_rows()) {
    context.report().Error(At(in, note.line) + " " + Counted(note.fields, "field") +
                           (strict ? ": neither 10 nor 8" : ": written as an empty row"));
  }
  const auto more = found.empty_row_count() - static_cast<std::int64_t>(found.empty_rows().size());
  if (more > 0) {
    context.report().Error(in.shown + ": " + std::to_string(more) + " more" +
                           (strict ? " such lines" : " lines written as empty rows"));
  }
}

// The one-line warning for a text side that looks like UTF-8 when
// --encoding was not given; true when it was shown.
bool WarnIfUtf8(const Context& context, const Endpoint& in, const LibraryInput& text) {
  const Request& request = context.request();
  if (request.encoding_given) return false;
  std::string source;
  if (text.head.looks_utf8) {
    source = in.shown;
  } else if (!UnicodeArguments() && LooksUtf8(request.nsr)) {
    source = "--nsr";
  } else if (!UnicodeArguments() && LooksUtf8(request.qymc)) {
    source = "--qymc";
  } else {
    return false;
  }
  context.report().Error(source + " looks like UTF-8; --encoding utf-8 would convert it to GBK");
  return true;
}

Charset TextCharset(const Context& context) {
  return context.utf8() ? Charset::kUtf8 : Charset::kGbk;
}

}  // namespace

int Txt2XmlCommand(Context& context) {
  const Request& request = context.request();
  Endpoint in;
  Endpoint out;
  std::string nsr;
  std::string qymc;
  if (!context.ResolveInputAndOutput(&in, &out) ||
      !context.ValueForLibrary("--nsr", request.nsr, &nsr) ||
      !context.ValueForLibrary("--qymc", request.qymc, &qymc)) {
    return kExitFailed;
  }
  LibraryInput text;
  const int code = PrepareInput(context, in, TextCharset(context), Charset::kGbk, &text);
  if (code != kGoOn) return code;
  TempFile spool;
  if (out.standard && !context.CreateTemp(&spool)) return context.OwnFailureCode();
  const std::string& target = out.standard ? spool.path() : out.path;
  context.names().Add(target, out.shown);
  Observer found(request.strict);
  const Outcome outcome = TextToDocument(text.path, target, request.type, nsr, qymc, {&found});
  if (found.stopped()) {
    ReportEmptyRows(context, in, found, true);
    context.report().Error("--strict: " + Counted(found.empty_row_count(), "line") +
                           " of neither 10 nor 8 fields; nothing was written");
    return kExitFailed;
  }
  if (!outcome.ok) return context.ReportFailure(outcome, context.utf8());
  if (!context.Deliver(out, spool)) return kExitFailed;
  ReportEmptyRows(context, in, found, false);
  WarnIfUtf8(context, in, text);
  context.report().Info("wrote " + out.shown);
  return kExitOk;
}

int CheckTextCommand(Context& context, const Endpoint& in, const LibraryInput& plain) {
  LibraryInput converted;
  const bool convert = context.utf8();
  if (convert) {
    const Endpoint copy{in.shown, plain.path, false};
    const int code = PrepareInput(context, copy, Charset::kUtf8, Charset::kGbk, &converted);
    if (code != kGoOn) return code;
  }
  const LibraryInput& text = convert ? converted : plain;
  TempFile scratch;
  if (!context.CreateTemp(&scratch)) return context.OwnFailureCode();
  context.names().Add(scratch.path(), "a temporary file");
  Observer found;
  const Outcome outcome = TextToDocument(text.path, scratch.path(), 100, {}, {}, {&found});
  if (FailedAtOutput(outcome)) return context.ReportOutputFailure(outcome);
  if (OutOfMemory(outcome)) return context.ReportFailure(outcome, false);
  ReportEmptyRows(context, in, found, false);
  const bool looks_utf8 = WarnIfUtf8(context, in, text);
  if (!outcome.ok) context.ReportFailure(outcome, convert);
  const int code = !outcome.ok                                 ? kExitFailed
                   : found.empty_row_count() > 0 || looks_utf8 ? kExitWarnings
                                                               : kExitOk;
  std::string summary = in.shown + ": text";
  if (outcome.ok) {
    summary += ", " + Counted(found.rows_written(), "line") + " (" +
               Counted(found.empty_row_count(), "empty row") + ")";
  }
  summary += code == kExitOk         ? ": converts cleanly"
             : code == kExitWarnings ? ": converts, with warnings"
                                     : ": would fail";
  return context.Summarize(summary) ? code : kExitFailed;
}

}  // namespace quorvel::cli
