// What the command line tells its user, and where: messages on standard
// error ("quorvel: " first), counts and "wrote" lines on standard error unless
// --quiet, and standard output for converted bytes, help and check's report,
// whose write failures end the program with exit 1.
#ifndef QUORVEL_TOOLS_PRESENT_REPORT_H
#define QUORVEL_TOOLS_PRESENT_REPORT_H

#include <cstdio>
#include <string>
#include <string_view>

namespace quorvel::cli {

class Reporter {
 public:
  explicit Reporter(bool quiet = false) : quiet_(quiet) {}

  // "quorvel: " + text + line break on standard error.
  void Error(std::string_view text) const;
  // text + line break on standard error, unless quiet.
  void Info(std::string_view text) const;
  bool quiet() const { return quiet_; }

  // Bytes to standard output. False, after saying so on standard error, when
  // the write failed.
  bool Output(std::string_view bytes) const;
  // Copies the file `in` to standard output and flushes it; false, after
  // saying so, when reading it or writing standard output failed.
  bool OutputFile(std::FILE* in) const;
  // Flushes standard output; false, after saying so, when that failed. Run
  // before a successful exit: a full disk often shows only here.
  bool FinishOutput() const;
  // Reports a failed write of standard output, with the system's text for
  // `error` (0: none known); false.
  bool OutputFailed(int error) const;

 private:
  bool quiet_;
};

// Bytes to standard error, as they are.
void WriteError(std::string_view bytes);

// The system's text for an errno value.
std::string ErrorText(int error);

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_PRESENT_REPORT_H
