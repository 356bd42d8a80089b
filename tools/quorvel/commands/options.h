// The command line's grammar: commands, options, the usage and help texts.
// Options follow GNU's conventions (getopt_long, which glibc and mingw-w64
// both ship): long options and their unambiguous abbreviations, "--name
// VALUE" or "--name=VALUE", -h, -V and -q, options anywhere after the
// command, "--" ending them.
#ifndef QUORVEL_TOOLS_COMMANDS_OPTIONS_H
#define QUORVEL_TOOLS_COMMANDS_OPTIONS_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "charset/charset.h"
#include "convert/findings.h"

namespace quorvel::cli {

enum class Command { kTxt2Xml, kXml2Txt, kCheck, kHelp, kVersion };

struct Request {
  Command command = Command::kHelp;
  std::vector<std::string> files;  // INPUT OUTPUT, or check's FILE...
  std::int32_t type = 100;
  std::string nsr;
  std::string qymc;
  std::optional<Date> date;          // --date
  Charset encoding = Charset::kGbk;  // of the text file, when given
  bool encoding_given = false;
  bool strict = false;            // every warning is a failure
  bool allow_empty_rows = false;  // lines of neither 10 nor 8 fields become empty rows
  bool quiet = false;
  bool progress = true;
};

// Reads the arguments after the program's name. False for anything the
// grammar does not allow, with `*error` saying what (for "quorvel: " to
// precede, as "unrecognized option '--bogus'").
bool ParseRequest(const std::vector<std::string>& arguments, Request* request, std::string* error);

// A date as YYYY-MM-DD, a real day of the Gregorian calendar from year 1 to 9999.
bool ParseDate(std::string_view text, Date* date);
// The UTC day of a count of seconds since 1970-01-01 (SOURCE_DATE_EPOCH):
// a decimal without sign, up to the end of year 9999.
bool DateOfEpoch(std::string_view seconds, Date* date);

std::string_view UsageText();
// The usage text followed by the description of every command and option
// and of the two file formats.
std::string HelpText();

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_COMMANDS_OPTIONS_H
