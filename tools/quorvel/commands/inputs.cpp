#include "commands/inputs.h"

#include <cerrno>

#include "charset/transcode.h"
#include "commands/commands.h"
#include "common/failure.h"
#include "system/system.h"

namespace quorvel::cli {
namespace {

// Reports a pass over `in` that stopped; returns the exit code (a failed
// write is this program's own failure).
int ReportPassFailure(const Context& context, PassEnd end, const Endpoint& in,
                      const EncodingStop& stop) {
  switch (end.status) {
    case PassStatus::kOk:
      break;
    case PassStatus::kReadFailed:
      context.report().Error("cannot read " + in.shown + ": " + ErrorText(end.error));
      break;
    case PassStatus::kWriteFailed:
      return context.ReportOwnFailure("cannot write a temporary file: " + ErrorText(end.error));
    case PassStatus::kNotConvertible:
      context.report().Error(At(in, stop.line, stop.column) + " " + stop.what);
      break;
  }
  return kExitFailed;
}

// Reads the head of the file the library will read.
bool LookAt(const std::string& path, Head* head) {
  const File file = OpenFile(path, "rb");
  if (file == nullptr) return false;
  *head = ReadHead(file.get());
  return true;
}

// Writes the private copy of `source` and makes it the library's input.
int Copy(Context& context, std::FILE* source, const Endpoint& in, Charset from, Charset to,
         LibraryInput* input) {
  Converter converter(from, to);
  if (from != to && !context.Usable(converter)) return kExitFailed;
  if (!context.CreateTemp(&input->temp)) return context.OwnFailureCode();
  File copy = OpenFile(input->temp.path(), "wb");
  if (copy == nullptr) return ReportPassFailure(context, WriteFailed(), in, {});
  EncodingStop stop;
  PassEnd end =
      from != to ? Transcode(source, from, to, copy.get(), &stop) : CopyContent(source, copy.get());
  if (end.status == PassStatus::kOk && !CloseFile(std::move(copy))) end = WriteFailed();
  if (end.status != PassStatus::kOk) return ReportPassFailure(context, end, in, stop);
  input->path = input->temp.path();
  if (!LookAt(input->path, &input->head)) {
    return context.ReportOwnFailure("cannot read a temporary file: " + ErrorText(errno));
  }
  return kGoOn;
}

}  // namespace

int PrepareInput(Context& context, const Endpoint& in, Charset from, Charset to,
                 LibraryInput* input) {
  File holder;
  std::FILE* source = stdin;
  if (!in.standard) {
    holder = OpenFile(in.path, "rb");
    if (holder == nullptr) {
      // The library's own words for it, which it would have given.
      context.report().Error(FormatMessage(MessageId::kCannotOpenFile, in.shown));
      return kExitFailed;
    }
    source = holder.get();
  }
  const int code = in.standard || from != to || !IsRegularFile(source)
                       ? Copy(context, source, in, from, to, input)
                       : kGoOn;
  if (code != kGoOn) return code;
  if (input->path.empty()) {
    input->path = in.path;
    input->head = ReadHead(source);
  }
  context.names().Add(input->path, in.shown);
  return kGoOn;
}

}  // namespace quorvel::cli
