// What the steps of one command share: the request, the library, the
// reporter, the files as the user named them and as the library sees them,
// and the library's calls with their messages made readable.
#ifndef QUORVEL_TOOLS_SESSION_H
#define QUORVEL_TOOLS_SESSION_H

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "files.h"
#include "options.h"
#include "report.h"
#include "system.h"
#include "text_scan.h"

namespace quorvel::cli {

// A file a command reads or writes.
struct Endpoint {
  std::string shown;      // in messages: the argument, or "(standard input)"
  std::string path;       // the native path; empty for a standard stream
  bool standard = false;  // "-"
};

// What the library made of a call: its result and last-error message (empty
// for incomplete rows), and for xml2txt the rows count and nsr text.
struct Outcome {
  bool ok = false;
  std::string message;
  std::int32_t rows = 0;
  std::string nsr;
};

// The file the library is to read: the user's own, or a private copy (a
// stream's content, or the text converted).
struct LibraryInput {
  TempFile temp;
  std::string path;
};

class Session {
 public:
  Session(const Library& library, const Request& request)
      : library_(library), request_(request), report_(request.quiet) {}

  const Request& request() const { return request_; }
  const Reporter& report() const { return report_; }
  bool utf8() const { return request_.encoding == Charset::kUtf8; }

  // The endpoint named by an argument; false, after reporting, when the
  // name has no native form.
  bool Resolve(const std::string& argument, bool input, Endpoint* endpoint);
  // INPUT and OUTPUT, the same way.
  bool ResolveInputAndOutput(Endpoint* in, Endpoint* out);
  // A --nsr or --qymc value as GBK bytes for the library; false, after
  // reporting, when it cannot be converted.
  bool ValueForLibrary(std::string_view option, const std::string& value, std::string* gbk);

  // Creates a private temporary file; false, after reporting, when it cannot
  // (the exit code is then OwnFailureCode()).
  bool CreateTemp(TempFile* temp);

  // Reports a failure of this program's own temporary files, which says
  // nothing about the input: in check "cannot check: " comes first. Returns
  // OwnFailureCode().
  int ReportOwnFailure(std::string_view why);
  // kExitCannotCheck in check, else kExitFailed.
  int OwnFailureCode() const;
  // Whether a conversion into a private file failed at saving that file
  // ("Stream write error", "Cannot create file"), not at its input.
  static bool FailedAtOutput(const Outcome& outcome);
  // Reports such a failure (ReportOwnFailure) and returns its exit code.
  int ReportOutputFailure(const Outcome& outcome);
  // False, after reporting, when the system lacks the converter.
  bool Usable(const Converter& converter);

  // A private copy of an input, which the library then reads instead: a
  // stream's content, or the input converted. StartCopy creates it, open for
  // writing (null, after reporting, when it cannot: the exit code is then
  // OwnFailureCode()). EndCopy ends the pass
  // that wrote it with `end`: it closes the copy and makes it the library's
  // input, shown in messages as `in`, and returns kGoOn; or it reports what
  // stopped the pass (for a file this program could not read, the library's
  // own message, from the conversion `text` names) and returns the exit code.
  File StartCopy(const Endpoint& in, LibraryInput* input);
  int EndCopy(PassEnd end, const EncodingStop& stop, const Endpoint& in, bool text, File copy,
              LibraryInput* input);
  // Opens the endpoint `in` to read it: standard input, or the file. Null
  // when the file cannot be opened. `*regular` says whether the library could
  // read it again after this program did (a regular file, not a pipe).
  std::FILE* OpenInput(const Endpoint& in, File* holder, bool* regular);

  Outcome Txt2Xml(const std::string& in, const std::string& out, const std::string& nsr,
                  const std::string& qymc);
  Outcome Xml2Txt(const std::string& in, const std::string& out);

  // The library's message for an input this program could not read, from a
  // conversion into a private file (or, when the library reads it, the
  // system's text for `error`); reports it and returns kExitFailed.
  int ReportUnreadable(const Endpoint& in, bool text, int error);
  // Reports a library failure, the names of private files replaced by what
  // they stand for; returns kExitFailed.
  int ReportLibraryFailure(const Outcome& outcome, bool from_gbk);
  // Reports a stopped pass over `in`; returns the exit code (a failed write
  // is this program's own failure).
  int ReportPassFailure(PassEnd end, const Endpoint& in, const EncodingStop& stop);
  // "FILE:LINE:" and "FILE:LINE:COLUMN:" prefixes.
  static std::string At(const Endpoint& in, std::int64_t line);
  static std::string At(const Endpoint& in, std::int64_t line, std::size_t column);

  // Copies the library's output in `temp` to standard output when `out` is
  // standard output, removing `temp` as soon as it is open where the system
  // allows; false after reporting a failure.
  bool Deliver(const Endpoint& out, TempFile& temp);

  // check's one-line report, on standard output unless --quiet; false after
  // reporting a failed write.
  bool Summarize(const std::string& line) const;

  // Remembers that the library sees `shown` as `passed`: its messages show
  // `shown` where they name `passed`, or where the cut at 255 bytes left a
  // piece of it at the end of "Cannot open file" or "Cannot create file".
  void Name(const std::string& passed, const std::string& shown);

 private:
  std::string Readable(std::string_view message, bool from_gbk) const;

  const Library& library_;
  const Request& request_;
  Reporter report_;
  std::vector<std::pair<std::string, std::string>> names_;
};

// "1 row", "2 rows".
std::string Counted(std::int64_t count, std::string_view noun);

// What a step returns to let its command go on (any other value is the
// command's exit code).
inline constexpr int kGoOn = -1;

// The commands, each returning its exit code: text_command.cpp and
// document_command.cpp. check has read its FILE once already, so `in` is a
// regular file (a private copy of a stream).
int Txt2XmlCommand(Session& session);
int Xml2TxtCommand(Session& session);
int CheckTextCommand(Session& session, const Endpoint& in);
int CheckDocumentCommand(Session& session, const Endpoint& in);

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_SESSION_H
