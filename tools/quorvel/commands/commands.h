// The commands: txt2xml, xml2txt and check, and their exit codes.
#ifndef QUORVEL_TOOLS_COMMANDS_COMMANDS_H
#define QUORVEL_TOOLS_COMMANDS_COMMANDS_H

#include <string>
#include <vector>

namespace quorvel::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;       // nothing was written
inline constexpr int kExitIncomplete = 2;   // rows lacked values; nothing was written
inline constexpr int kExitWarnings = 3;     // check: would convert, with warnings
inline constexpr int kExitCannotCheck = 4;  // check: its own temporary files failed; no verdict
inline constexpr int kExitUsage = 64;

// Runs the command line given its arguments after the program's name; the
// entry points call it and return what it returns.
int RunCommandLine(const std::vector<std::string>& arguments);

class Context;
struct Endpoint;
struct OpenedInput;

// The commands, each returning its exit code: txt2xml.cpp and xml2txt.cpp.
// check has opened its FILE and looked at its head already.
int Txt2XmlCommand(Context& context);
int Xml2TxtCommand(Context& context);
int CheckTextCommand(Context& context, const Endpoint& in, OpenedInput& opened);
int CheckDocumentCommand(Context& context, const Endpoint& in, OpenedInput& opened);

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_COMMANDS_COMMANDS_H
