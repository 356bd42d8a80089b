// The command line's entry: parse, run one command.
#include "commands/commands.h"
#include "commands/context.h"
#include "commands/inputs.h"
#include "commands/options.h"
#include "present/report.h"
#include "system/system.h"

namespace quorvel::cli {
namespace {

// check tells a document from a text by its head; a stream is kept in a
// private file first, which the conversion then reads.
int CheckCommand(Context& context) {
  Endpoint in;
  if (!context.Resolve(context.request().files[0], true, &in)) return kExitFailed;
  LibraryInput plain;
  const int code = PrepareInput(context, in, Charset::kGbk, Charset::kGbk, &plain);
  if (code != kGoOn) return code;
  return plain.head.document ? CheckDocumentCommand(context, in, plain)
                             : CheckTextCommand(context, in, plain);
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& arguments) {
  PrepareProcess();
  Request request;
  const Reporter report;
  if (!ParseRequest(arguments, &request)) {
    WriteError(UsageText());
    return kExitUsage;
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
      return report.Output("quorvel " + std::string(QUORVEL_VERSION) + "\n") &&
                     report.FinishOutput()
                 ? kExitOk
                 : kExitFailed;
    case Command::kHelp:
      return report.Output(HelpText()) && report.FinishOutput() ? kExitOk : kExitFailed;
  }
  return kExitUsage;
}

}  // namespace quorvel::cli
