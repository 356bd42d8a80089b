// xml2txt, and check on a returned document: the library reads the document
// (converted to UTF-8 first with --encoding utf-8, or copied from a stream),
// and the incomplete rows it reports are then named by a pass of our own.
#include <cerrno>

#include "commands.h"
#include "document_scan.h"
#include "session.h"
#include "utf8.h"

namespace quorvel::cli {
namespace {

// The document as the library will read it, and what converting it found.
struct PreparedDocument {
  LibraryInput input;
  NonAsciiDate date;
};

// With --encoding utf-8 the library reads the document converted to UTF-8:
// it is byte-transparent and every marker it looks for is ASCII, so it
// writes the UTF-8 text itself, through its own safe save. A stream is
// copied first, so that the library has a path and the rows can be named.
int PrepareDocument(Session& session, const Endpoint& in, PreparedDocument* document) {
  File holder;
  bool regular = false;
  std::FILE* source = session.OpenInput(in, &holder, &regular);
  const bool convert = session.utf8();
  document->input.path = in.path;
  if (source == nullptr) return convert ? session.ReportUnreadable(in, false, errno) : kGoOn;
  if (regular && !convert) return kGoOn;
  Converter to_utf8(Charset::kGbk, Charset::kUtf8);
  if (convert && !session.Usable(to_utf8)) return kExitFailed;
  File copy = session.StartCopy(in, &document->input);
  if (copy == nullptr) return session.OwnFailureCode();
  EncodingStop stop;
  const PassEnd end = convert
                          ? ConvertDocument(source, &to_utf8, copy.get(), &document->date, &stop)
                          : CopyContent(source, copy.get());
  return session.EndCopy(end, stop, in, false, std::move(copy), &document->input);
}

// The library cuts kr and rq by bytes. A date with other than ASCII among
// its first eight bytes would be cut differently in UTF-8 than in GBK, so it
// fails, if the library reads its row: the row count tells, from a
// conversion into a private file. When that file cannot be written, nothing
// is known, and that fails too.
int RefuseNonAsciiDate(Session& session, const Endpoint& in, const PreparedDocument& document) {
  const NonAsciiDate& date = document.date;
  if (date.ordinal == 0) return kGoOn;
  TempFile scratch;
  if (!session.CreateTemp(&scratch)) return session.OwnFailureCode();
  session.Name(scratch.path(), "a temporary file");
  const Outcome outcome = session.Xml2Txt(document.input.path, scratch.path());
  if (Session::FailedAtOutput(outcome)) return session.ReportOutputFailure(outcome);
  if (!outcome.ok || outcome.rows < date.ordinal) return kGoOn;
  session.report().Error(Session::At(in, date.place.line, date.place.column) + " row " + date.row +
                         ": " + std::string(date.element) +
                         " is a date with characters other than ASCII, which cannot be cut into "
                         "yyyy/mm/dd in UTF-8");
  return kExitFailed;
}

// The nsr as the text side shows it. The library cuts it at 255 bytes, which
// can split a UTF-8 character: that piece is dropped.
std::string ShownNsr(const Session& session, const std::string& nsr) {
  if (!session.utf8()) return nsr;
  const std::size_t bad = FindInvalidUtf8(nsr);
  if (bad != std::string::npos && nsr.size() - bad < 4) return nsr.substr(0, bad);
  return nsr;
}

// Names the incomplete rows among the first `rows` blocks of the document
// the library read: the first kShownNotes, then a count.
IncompleteRows ReportIncompleteRows(const Session& session, const std::string& path,
                                    std::int32_t rows) {
  IncompleteRows found;
  File document = OpenFile(path, "rb");
  if (document == nullptr || !FindIncompleteRows(document.get(), rows, &found)) {
    session.report().Error("cannot read the document again to name its incomplete rows");
    return found;
  }
  for (const RowBlock& block : found.shown) {
    session.report().Error("row " + block.Name() + " (lines " + std::to_string(block.first_line) +
                           "-" + std::to_string(block.last_line) + "): no " + block.Missing());
  }
  const auto more = found.count - static_cast<std::int64_t>(found.shown.size());
  if (more > 0) session.report().Error(std::to_string(more) + " more incomplete rows");
  return found;
}

}  // namespace

int Xml2TxtCommand(Session& session) {
  Endpoint in;
  Endpoint out;
  if (!session.ResolveInputAndOutput(&in, &out)) return kExitFailed;
  PreparedDocument document;
  if (const int code = PrepareDocument(session, in, &document); code != kGoOn) return code;
  if (const int code = RefuseNonAsciiDate(session, in, document); code != kGoOn) return code;
  TempFile spool;
  if (out.standard && !session.CreateTemp(&spool)) return session.OwnFailureCode();
  const std::string& target = out.standard ? spool.path() : out.path;
  session.Name(target, out.shown);
  const Outcome outcome = session.Xml2Txt(document.input.path, target);
  if (!outcome.ok && !outcome.message.empty()) return session.ReportLibraryFailure(outcome, false);
  // Both remaining outcomes have read every row: the count and nsr are set.
  if (outcome.ok && !session.Deliver(out, spool)) return kExitFailed;
  session.report().Info("rows: " + std::to_string(outcome.rows));
  session.report().Info("nsr: " + ShownNsr(session, outcome.nsr));
  if (!outcome.ok) {
    const IncompleteRows found = ReportIncompleteRows(session, document.input.path, outcome.rows);
    session.report().Error(std::to_string(found.count) + " of " + Counted(outcome.rows, "row") +
                           (found.count == 1 ? " lacks some of its" : " lack some of their") +
                           " eleven values; nothing was written");
    return kExitIncomplete;
  }
  session.report().Info("wrote " + out.shown);
  return kExitOk;
}

int CheckDocumentCommand(Session& session, const Endpoint& in) {
  PreparedDocument document;
  if (const int code = PrepareDocument(session, in, &document); code != kGoOn) return code;
  std::string summary = in.shown + ": returned document";
  int code = RefuseNonAsciiDate(session, in, document);
  if (code == kExitCannotCheck) return code;
  Outcome outcome;
  if (code == kGoOn) {
    TempFile scratch;
    if (!session.CreateTemp(&scratch)) return session.OwnFailureCode();
    session.Name(scratch.path(), "a temporary file");
    outcome = session.Xml2Txt(document.input.path, scratch.path());
    if (Session::FailedAtOutput(outcome)) return session.ReportOutputFailure(outcome);
    if (!outcome.ok && !outcome.message.empty()) {
      code = session.ReportLibraryFailure(outcome, false);
    }
  }
  if (code == kGoOn) {
    summary += ", " + Counted(outcome.rows, "row") + ", nsr " + ShownNsr(session, outcome.nsr);
    if (outcome.ok) {
      code = kExitOk;
      summary += ": converts cleanly";
    } else {
      code = kExitIncomplete;
      const IncompleteRows found = ReportIncompleteRows(session, document.input.path, outcome.rows);
      summary += ": " + Counted(found.count, "incomplete row");
    }
  } else {
    summary += ": would fail";
  }
  return session.Summarize(summary) ? code : kExitFailed;
}

}  // namespace quorvel::cli
