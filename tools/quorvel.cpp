// The command line's entry: parse, load the library, run one command.
#include <cerrno>

#include "commands.h"
#include "options.h"
#include "report.h"
#include "session.h"
#include "system.h"
#include "utf8.h"

namespace quorvel::cli {
namespace {

// A document's first byte, after a byte order mark and blank and control
// bytes, is "<"; a text's is its first field's.
bool LooksLikeDocument(std::FILE* file) {
  char head[4096];
  std::string_view bytes(head, std::fread(head, 1, sizeof head, file));
  if (bytes.starts_with(kUtf8Bom)) bytes.remove_prefix(kUtf8Bom.size());
  while (!bytes.empty() && static_cast<unsigned char>(bytes[0]) <= 0x20) bytes.remove_prefix(1);
  return bytes.starts_with('<');
}

// check reads its FILE twice (its kind, then the conversion's pass): a
// stream is kept in a private file first.
int CheckCommand(Session& session) {
  Endpoint in;
  if (!session.Resolve(session.request().files[0], true, &in)) return kExitFailed;
  File holder;
  bool regular = false;
  std::FILE* source = session.OpenInput(in, &holder, &regular);
  if (source == nullptr) return session.ReportUnreadable(in, true, errno);
  LibraryInput copy;
  if (!regular) {
    File target = session.StartCopy(in, &copy);
    if (target == nullptr) return session.OwnFailureCode();
    // (The pass first: `target` is moved into the call.)
    const PassEnd end = CopyContent(source, target.get());
    const int code = session.EndCopy(end, {}, in, true, std::move(target), &copy);
    if (code != kGoOn) return code;
    in = {in.shown, copy.path, false};
  }
  holder.reset();
  const File file = OpenFile(in.path, "rb");
  if (file == nullptr) return session.ReportUnreadable(in, true, errno);
  return LooksLikeDocument(file.get()) ? CheckDocumentCommand(session, in)
                                       : CheckTextCommand(session, in);
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
  if (request.command == Command::kHelp) {
    return report.Output(HelpText()) && report.FinishOutput() ? kExitOk : kExitFailed;
  }
  Library library;
  std::string why;
  if (!LoadLibraryExports(&library, &why)) {
    report.Error(why);
    return kExitFailed;
  }
  Session session(library, request);
  switch (request.command) {
    case Command::kTxt2Xml:
      return Txt2XmlCommand(session);
    case Command::kXml2Txt:
      return Xml2TxtCommand(session);
    case Command::kCheck:
      return CheckCommand(session);
    case Command::kVersion:
      return report.Output("quorvel " + library.version + "\n") && report.FinishOutput()
                 ? kExitOk
                 : kExitFailed;
    case Command::kHelp:
      break;
  }
  return kExitUsage;
}

}  // namespace quorvel::cli
