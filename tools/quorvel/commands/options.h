// The command line's grammar: commands, options, the usage and help texts.
#ifndef QUORVEL_TOOLS_COMMANDS_OPTIONS_H
#define QUORVEL_TOOLS_COMMANDS_OPTIONS_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "charset/charset.h"

namespace quorvel::cli {

enum class Command { kTxt2Xml, kXml2Txt, kCheck, kHelp, kVersion };

struct Request {
  Command command = Command::kHelp;
  std::vector<std::string> files;  // INPUT OUTPUT, or check's FILE
  std::int32_t type = 100;
  std::string nsr;
  std::string qymc;
  Charset encoding = Charset::kGbk;  // of the text side
  bool encoding_given = false;
  bool strict = false;
  bool quiet = false;
};

// Reads the arguments after the program's name. Options may stand anywhere
// after the command, as "--name VALUE" or "--name=VALUE"; "--" ends them; a
// later option replaces an earlier one. False for anything the usage text
// does not allow.
bool ParseRequest(const std::vector<std::string>& arguments, Request* request);

std::string_view UsageText();
// The usage text followed by the description of every command and option.
std::string HelpText();

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_COMMANDS_OPTIONS_H
