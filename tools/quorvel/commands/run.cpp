// The command line's entry: parse, run one command.
#include <cstdlib>

#include "commands/commands.h"
#include "commands/context.h"
#include "commands/inputs.h"
#include "commands/options.h"
#include "present/report.h"
#include "quorvel.h"
#include "system/system.h"

namespace quorvel::cli {
namespace {

// How bad an exit status is, for check's worst.
int Severity(int code) {
  switch (code) {
    case kExitOk:
      return 0;
    case kExitWarnings:
      return 1;
    case kExitIncomplete:
      return 2;
    case kExitFailed:
      return 3;
    default:
      return 4;
  }
}

// check FILE: a document or a text, told by its head.
int CheckOne(Context& context, const std::string& argument) {
  Endpoint in;
  OpenedInput opened;
  if (!context.Resolve(argument, true, &in)) return kExitFailed;
  if (const int code = OpenInput(context, in, &opened); code != kGoOn) {
    if (code == kExitFailed) context.Summarize(in.shown + ": would fail");
    return code;
  }
  return opened.head.document ? CheckDocumentCommand(context, in, opened)
                              : CheckTextCommand(context, in, opened);
}

// check FILE...: one verdict each; the exit status of the worst.
int CheckCommand(Context& context) {
  int worst = kExitOk;
  for (const std::string& file : context.request().files) {
    const int code = CheckOne(context, file);
    if (Severity(code) > Severity(worst)) worst = code;
  }
  return worst;
}

// Usage errors: the reason, then where help is, GNU's way.
int UsageError(const std::string& error) {
  WriteError("quorvel: " + error + "\nTry 'quorvel --help' for more information.\n");
  return kExitUsage;
}

// Without --date, the day of SOURCE_DATE_EPOCH (UTC) when it is set, for
// the commands that make a document.
bool TakeSourceDate(Request* request, std::string* error) {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  const bool dated = request->command == Command::kTxt2Xml || request->command == Command::kCheck;
  if (!dated || request->date || epoch == nullptr || *epoch == '\0') return true;
  if (DateOfEpoch(epoch, &request->date.emplace())) return true;
  *error = "invalid SOURCE_DATE_EPOCH '" + std::string(epoch) + "'";
  return false;
}

int Show(const Reporter& report, const std::string& text) {
  return report.Output(text) && report.FinishOutput() ? kExitOk : kExitFailed;
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& arguments) {
  PrepareProcess();
  Request request;
  const Reporter report;
  std::string error;
  if (!ParseRequest(arguments, &request, &error) || !TakeSourceDate(&request, &error)) {
    return UsageError(error);
  }
  Context context(request);
  switch (request.command) {
    case Command::kTxt2Xml:
      return Txt2XmlCommand(context);
    case Command::kXml2Txt:
      return Xml2TxtCommand(context);
    case Command::kCheck:
      return CheckCommand(context);
    case Command::kVersion:
      // The library's core is linked in: its version is the one built with.
      return Show(report, "quorvel " QUORVEL_VERSION "\nlibrary " QUORVEL_VERSION " (linked in)\n");
    case Command::kHelp:
      return Show(report, HelpText());
  }
  return kExitUsage;
}

}  // namespace quorvel::cli
