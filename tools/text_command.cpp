// txt2xml, and check on a text: one pass over the text (field counts, the
// encoding, a copy for the library when it needs one), then the library.
#include <cerrno>

#include "commands.h"
#include "session.h"
#include "text_scan.h"
#include "utf8.h"

namespace quorvel::cli {
namespace {

// The text as the library will read it, and what the pass over it found.
struct PreparedText {
  LibraryInput input;
  TextFindings findings;
  bool scanned = false;  // `findings` cover the whole text
};

// Reads the text `in` before the library does: converted from UTF-8 into a
// private copy with --encoding utf-8, copied as it is when the library could
// not read it again (standard input, a pipe), else only read. With
// `must_scan`, a text this program cannot read is a failure; otherwise the
// library reads it alone and reports what it finds.
int PrepareText(Session& session, const Endpoint& in, bool must_scan, PreparedText* text) {
  File holder;
  bool regular = false;
  std::FILE* source = session.OpenInput(in, &holder, &regular);
  const bool convert = session.utf8();
  const bool copy = convert || !regular;
  text->input.path = in.path;
  if (source == nullptr) {
    return convert || must_scan ? session.ReportUnreadable(in, true, errno) : kGoOn;
  }
  Converter to_gbk(Charset::kUtf8, Charset::kGbk);
  if (convert && !session.Usable(to_gbk)) return kExitFailed;
  File copy_file;
  if (copy && (copy_file = session.StartCopy(in, &text->input)) == nullptr) {
    return session.OwnFailureCode();
  }
  EncodingStop stop;
  const PassEnd end =
      ScanText(source, convert ? &to_gbk : nullptr, copy_file.get(), &text->findings, &stop);
  text->scanned = end.status == PassStatus::kOk;
  if (copy) return session.EndCopy(end, stop, in, true, std::move(copy_file), &text->input);
  // Only read: the library reads the file itself, and reports it if it
  // cannot either.
  return text->scanned || !must_scan ? kGoOn : session.ReportUnreadable(in, true, end.error);
}

// Names the lines that become empty rows (or, with --strict, that stop the
// conversion): the first kShownNotes, then a count.
void ReportOddLines(const Session& session, const Endpoint& in, const TextFindings& findings,
                    bool strict) {
  for (const OddLine& odd : findings.odd) {
    session.report().Error(Session::At(in, odd.line) + " " + Counted(odd.fields, "field") +
                           (strict ? ": neither 10 nor 8" : ": written as an empty row"));
  }
  const auto more = findings.odd_count - static_cast<std::int64_t>(findings.odd.size());
  if (more > 0) {
    session.report().Error(in.shown + ": " + std::to_string(more) + " more" +
                           (strict ? " such lines" : " lines written as empty rows"));
  }
}

// The one-line warning for a text side that looks like UTF-8 when
// --encoding was not given; true when it was shown.
bool WarnIfUtf8(const Session& session, const Endpoint& in, const PreparedText& text) {
  const Request& request = session.request();
  if (request.encoding_given) return false;
  std::string source;
  if (text.scanned && text.findings.LooksUtf8()) {
    source = in.shown;
  } else if (!UnicodeArguments() && LooksUtf8(request.nsr)) {
    source = "--nsr";
  } else if (!UnicodeArguments() && LooksUtf8(request.qymc)) {
    source = "--qymc";
  } else {
    return false;
  }
  session.report().Error(source + " looks like UTF-8; --encoding utf-8 would convert it to GBK");
  return true;
}

}  // namespace

int Txt2XmlCommand(Session& session) {
  const Request& request = session.request();
  Endpoint in;
  Endpoint out;
  std::string nsr;
  std::string qymc;
  if (!session.ResolveInputAndOutput(&in, &out) ||
      !session.ValueForLibrary("--nsr", request.nsr, &nsr) ||
      !session.ValueForLibrary("--qymc", request.qymc, &qymc)) {
    return kExitFailed;
  }
  PreparedText text;
  if (const int code = PrepareText(session, in, request.strict, &text); code != kGoOn) return code;
  if (request.strict && text.findings.odd_count > 0) {
    ReportOddLines(session, in, text.findings, true);
    session.report().Error("--strict: " + Counted(text.findings.odd_count, "line") +
                           " of neither 10 nor 8 fields; nothing was written");
    return kExitFailed;
  }
  TempFile spool;
  if (out.standard && !session.CreateTemp(&spool)) return session.OwnFailureCode();
  const std::string& target = out.standard ? spool.path() : out.path;
  session.Name(target, out.shown);
  const Outcome outcome = session.Txt2Xml(text.input.path, target, nsr, qymc);
  if (!outcome.ok) return session.ReportLibraryFailure(outcome, session.utf8());
  if (!session.Deliver(out, spool)) return kExitFailed;
  ReportOddLines(session, in, text.findings, false);
  WarnIfUtf8(session, in, text);
  session.report().Info("wrote " + out.shown);
  return kExitOk;
}

int CheckTextCommand(Session& session, const Endpoint& in) {
  PreparedText text;
  if (const int code = PrepareText(session, in, true, &text); code != kGoOn) return code;
  TempFile scratch;
  if (!session.CreateTemp(&scratch)) return session.OwnFailureCode();
  session.Name(scratch.path(), "a temporary file");
  const Outcome outcome = session.Txt2Xml(text.input.path, scratch.path(), {}, {});
  if (Session::FailedAtOutput(outcome)) return session.ReportOutputFailure(outcome);
  const TextFindings& findings = text.findings;
  ReportOddLines(session, in, findings, false);
  const bool looks_utf8 = WarnIfUtf8(session, in, text);
  if (!outcome.ok) session.ReportLibraryFailure(outcome, session.utf8());
  const int code = !outcome.ok                            ? kExitFailed
                   : findings.odd_count > 0 || looks_utf8 ? kExitWarnings
                                                          : kExitOk;
  const char* verdict = code == kExitOk         ? "converts cleanly"
                        : code == kExitWarnings ? "converts, with warnings"
                                                : "would fail";
  const std::string summary = in.shown + ": text, " + Counted(findings.lines, "line") + " (" +
                              Counted(findings.full_rows, "full row") + ", " +
                              Counted(findings.short_rows, "short row") + ", " +
                              Counted(findings.odd_count, "empty row") + "): " + verdict;
  return session.Summarize(summary) ? code : kExitFailed;
}

}  // namespace quorvel::cli
