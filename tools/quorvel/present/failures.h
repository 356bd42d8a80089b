// A library failure as the user reads it: which file, what went wrong and,
// where the system gave one, its reason; "List index out of bounds" told by
// what the document lacks. Files are named as the user named them (not as
// the private copy or spool the library was given), text from a converted
// file shown in UTF-8.
#ifndef QUORVEL_TOOLS_PRESENT_FAILURES_H
#define QUORVEL_TOOLS_PRESENT_FAILURES_H

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "boundary/capture.h"

namespace quorvel::cli {

// A file name as messages show it: as it is, unless it holds a control byte
// (a line break could forge a line of ours): then in single quotes, with
// each control byte, "\\" and "'" written as a C escape ("\n", "\x1B").
std::string QuotedName(std::string_view name);

// The names the library is given, and what messages show for each (a name
// not given is shown as QuotedName makes it).
class Names {
 public:
  void Add(std::string passed, std::string shown);
  // What to show for `passed`: the name it stands for, or itself.
  std::string Shown(std::string_view passed) const;

 private:
  std::vector<std::pair<std::string, std::string>> names_;
};

// The files of one conversion, as messages show them.
struct Subject {
  std::string input;
  std::string output;
};

// The failure's text, after "quorvel: ". `from_gbk`: text the message
// carries from the input is GBK, shown converted to UTF-8 (a byte that is
// not GBK kept as it is).
std::string FailureText(const Outcome& outcome, const Names& names, const Subject& subject,
                        bool from_gbk);

// Whether a conversion into a private file failed at saving that file,
// not at its input.
bool FailedAtOutput(const Outcome& outcome);
// Whether a failure says nothing of the input: memory ran out.
bool OutOfMemory(const Outcome& outcome);

// "1 row", "2 rows".
std::string Counted(std::int64_t count, std::string_view noun);

// `text` from GBK to UTF-8, a byte that is not GBK kept as it is.
std::string Utf8OrBytes(std::string_view text);

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_PRESENT_FAILURES_H
