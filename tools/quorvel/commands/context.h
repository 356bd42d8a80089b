// What the steps of one command share: the request, the reporter, and the
// files as the user named them and as the library is given them.
#ifndef QUORVEL_TOOLS_COMMANDS_CONTEXT_H
#define QUORVEL_TOOLS_COMMANDS_CONTEXT_H

#include <cstdint>
#include <string>
#include <string_view>

#include "commands/options.h"
#include "present/failures.h"
#include "present/report.h"
#include "system/files.h"

namespace quorvel::cli {

// A file a command reads or writes.
struct Endpoint {
  std::string shown;      // in messages: the argument, or "(standard input)"
  std::string path;       // the native path; empty for a standard stream
  bool standard = false;  // "-"
};

// What a step returns to let its command go on (any other value is the
// command's exit code).
inline constexpr int kGoOn = -1;

class Context {
 public:
  explicit Context(const Request& request) : request_(request), report_(request.quiet) {}

  const Request& request() const { return request_; }
  const Reporter& report() const { return report_; }
  bool utf8() const { return request_.encoding == Charset::kUtf8; }
  // What the library is given, and what messages show for it.
  Names& names() { return names_; }
  const Names& names() const { return names_; }

  // The endpoint named by an argument; false, after reporting, when the
  // name has no native form.
  bool Resolve(const std::string& argument, bool input, Endpoint* endpoint);
  // INPUT and OUTPUT, the same way.
  bool ResolveInputAndOutput(Endpoint* in, Endpoint* out);
  // A --nsr or --qymc value as GBK bytes for the library; false, after
  // reporting, when it cannot be converted.
  bool ValueForLibrary(std::string_view option, const std::string& value, std::string* gbk);
  // False, after reporting, when the system lacks the converter.
  bool Usable(const Converter& converter) const;

  // Creates a private temporary file (with `writer`, see TempFile::Create);
  // false, after reporting, when it cannot (the exit code is then
  // OwnFailureCode()).
  bool CreateTemp(TempFile* temp, File* writer = nullptr);
  // Reports a failure of this program's own temporary files, which says
  // nothing about the input: in check "cannot check: " comes first. Returns
  // OwnFailureCode().
  int ReportOwnFailure(std::string_view why) const;
  // kExitCannotCheck in check, else kExitFailed.
  int OwnFailureCode() const;
  // Reports a library failure; returns kExitFailed. The library's failed
  // write of standard output is told as this program's own would be.
  int ReportFailure(const Outcome& outcome, const Subject& subject, bool from_gbk) const;
  // Reports a conversion into a private file that failed at saving it
  // (FailedAtOutput); returns OwnFailureCode().
  int ReportOutputFailure(const Outcome& outcome, const Subject& subject) const;
  // Text of the document (GBK) as the program shows it (ArgumentCharset).
  std::string ShownText(const std::string& gbk) const;

  // Where the library is to write `out`: the file; for standard output the
  // stream itself where the library can write it as this program would
  // (StandardOutputPath), so that the output is spooled once, by the
  // library; else a private `spool`. Named as `out` in messages. Null, after
  // reporting, when the spool cannot be made (the exit code is then
  // OwnFailureCode()).
  const std::string* TargetFor(const Endpoint& out, TempFile* spool);
  // Whether the library writes standard output itself (see TargetFor).
  bool WritesStandardOutput() const { return !standard_output_.empty(); }
  // Where check's conversion writes the output nobody wants: the discarding
  // device, else a private `scratch`; named "a temporary file" in messages.
  // Null, after reporting, when the scratch file cannot be made.
  const std::string* ScratchFor(TempFile* scratch);
  // Copies the library's output in `temp` to standard output when `out` is
  // standard output written through a spool, removing `temp` as soon as it
  // is open where the system allows; false after reporting a failure.
  bool Deliver(const Endpoint& out, TempFile& temp) const;
  // check's one-line report, on standard output unless --quiet; false after
  // reporting a failed write.
  bool Summarize(const std::string& line) const;

 private:
  const Request& request_;
  Reporter report_;
  Names names_;
  std::string standard_output_;  // the library writes standard output itself
  std::string discard_;
};

// "FILE:LINE:" and "FILE:LINE:COLUMN:" prefixes.
std::string At(const Endpoint& in, std::int64_t line);
std::string At(const Endpoint& in, std::int64_t line, std::size_t column);

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_COMMANDS_CONTEXT_H
