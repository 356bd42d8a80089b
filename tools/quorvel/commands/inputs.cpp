#include "commands/inputs.h"

#include <cerrno>

#include "charset/transcode.h"
#include "commands/commands.h"
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
      context.report().Error(in.shown + ": cannot read: " + ErrorText(end.error));
      break;
    case PassStatus::kWriteFailed:
      return context.ReportOwnFailure("cannot write a temporary file: " + ErrorText(end.error));
    case PassStatus::kNotConvertible:
      context.report().Error(At(in, stop.line, stop.column) + " " + stop.what);
      break;
  }
  return kExitFailed;
}

}  // namespace

int OpenInput(Context& context, const Endpoint& in, OpenedInput* opened) {
  opened->stream = stdin;
  if (!in.standard) {
    opened->holder = OpenFile(in.path, "rb");
    if (opened->holder == nullptr) {
      context.report().Error(in.shown + ": cannot open: " + ErrorText(errno));
      return kExitFailed;
    }
    opened->stream = opened->holder.get();
  }
  opened->regular = !in.standard && IsRegularFile(opened->stream);
  if (!ReadHead(opened->stream, &opened->head_bytes)) {
    return ReportPassFailure(context, ReadFailed(), in, {});
  }
  opened->head = LookAtHead(opened->head_bytes, opened->head_bytes.size() == kHeadBytes);
  return kGoOn;
}

int PrepareInput(Context& context, const Endpoint& in, OpenedInput& opened, Charset from,
                 Charset to, LibraryInput* input) {
  if (opened.regular && from == to) {
    input->path = in.path;
  } else {
    Converter converter(from, to);
    if (from != to && !context.Usable(converter)) return kExitFailed;
    File copy;
    if (!context.CreateTemp(&input->temp, &copy)) return context.OwnFailureCode();
    EncodingStop stop;
    PassEnd end = from != to
                      ? Transcode(opened.head_bytes, opened.stream, from, to, copy.get(), &stop)
                      : CopyContent(opened.head_bytes, opened.stream, copy.get());
    if (end.status == PassStatus::kOk && !CloseFile(std::move(copy))) end = WriteFailed();
    if (end.status != PassStatus::kOk) return ReportPassFailure(context, end, in, stop);
    input->path = input->temp.path();
  }
  opened.holder.reset();
  context.names().Add(input->path, in.shown);
  return kGoOn;
}

}  // namespace quorvel::cli
