#include "commands/context.h"

#include <cerrno>
#include <cstdio>

#include "charset/utf8.h"
#include "commands/commands.h"
#include "system/system.h"

namespace quorvel::cli {
namespace {

constexpr char kStandardInput[] = "(standard input)";
constexpr char kStandardOutput[] = "(standard output)";

}  // namespace

bool Context::Resolve(const std::string& argument, bool input, Endpoint* endpoint) {
  if (argument == "-") {
    *endpoint = {input ? kStandardInput : kStandardOutput, {}, true};
    return true;
  }
  std::string why;
  if (!NativePath(argument, &endpoint->path, &why)) {
    report_.Error(std::string(input ? "INPUT" : "OUTPUT") + " name: " + why);
    return false;
  }
  // Messages show names as the library is given them, control bytes escaped.
  endpoint->shown = QuotedName(endpoint->path);
  endpoint->standard = false;
  return true;
}

bool Context::ResolveInputAndOutput(Endpoint* in, Endpoint* out) {
  return Resolve(request_.files[0], true, in) && Resolve(request_.files[1], false, out);
}

bool Context::ValueForLibrary(std::string_view option, const std::string& value, std::string* gbk) {
  if (ArgumentCharset() != Charset::kUtf8) {
    *gbk = value;
    return true;
  }
  Converter to_gbk(Charset::kUtf8, Charset::kGbk);
  if (!Usable(to_gbk)) return false;
  std::size_t bad = 0;
  gbk->clear();
  if (to_gbk.Append(value, gbk, &bad)) return true;
  report_.Error(std::string(option) + ": character " +
                std::to_string(CountCharacters(value, bad) + 1) + ": " +
                DescribeStop(Charset::kUtf8, value, bad, "GBK form"));
  return false;
}

bool Context::Usable(const Converter& converter) const {
  if (converter.ok()) return true;
  report_.Error("this system has no converter between UTF-8 and GBK");
  return false;
}

bool Context::CreateTemp(TempFile* temp, File* writer) {
  std::string why;
  if (temp->Create(&why, writer)) return true;
  ReportOwnFailure(why);
  return false;
}

int Context::ReportOwnFailure(std::string_view why) const {
  report_.Error(request_.command == Command::kCheck ? "cannot check: " + std::string(why)
                                                    : std::string(why));
  return OwnFailureCode();
}

int Context::OwnFailureCode() const {
  return request_.command == Command::kCheck ? kExitCannotCheck : kExitFailed;
}

int Context::ReportFailure(const Outcome& outcome, const Subject& subject, bool from_gbk) const {
  if (!standard_output_.empty() && outcome.kind == MessageId::kStreamWriteError) {
    report_.OutputFailed(outcome.system_error);
    return kExitFailed;
  }
  report_.Error(FailureText(outcome, names_, subject, from_gbk));
  return kExitFailed;
}

int Context::ReportOutputFailure(const Outcome& outcome, const Subject& subject) const {
  return ReportOwnFailure(FailureText(outcome, names_, subject, false));
}

std::string Context::ShownText(const std::string& gbk) const {
  return ArgumentCharset() == Charset::kUtf8 ? Utf8OrBytes(gbk) : gbk;
}

const std::string* Context::TargetFor(const Endpoint& out, TempFile* spool) {
  if (out.standard) standard_output_ = StandardOutputPath();
  if (!standard_output_.empty()) {
    // The library's bytes come after anything this program wrote there.
    std::fflush(stdout);
    names_.Add(standard_output_, out.shown);
    return &standard_output_;
  }
  if (out.standard && !CreateTemp(spool)) return nullptr;
  const std::string& target = out.standard ? spool->path() : out.path;
  names_.Add(target, out.shown);
  return &target;
}

const std::string* Context::ScratchFor(TempFile* scratch) {
  discard_ = DiscardPath();
  if (discard_.empty() && !CreateTemp(scratch)) return nullptr;
  const std::string& target = discard_.empty() ? scratch->path() : discard_;
  names_.Add(target, "a temporary file");
  return &target;
}

bool Context::Deliver(const Endpoint& out, TempFile& temp) const {
  if (!out.standard || !standard_output_.empty()) return true;
  File converted = temp.Reader();
  if (converted == nullptr) {
    report_.Error("cannot read a temporary file: " + ErrorText(errno));
    return false;
  }
  temp.RemoveEarly();
  return report_.OutputFile(converted.get());
}

bool Context::Summarize(const std::string& line) const {
  return report_.quiet() || (report_.Output(line + "\n") && report_.FinishOutput());
}

std::string At(const Endpoint& in, std::int64_t line) {
  return in.shown + ":" + std::to_string(line) + ":";
}

std::string At(const Endpoint& in, std::int64_t line, std::size_t column) {
  return At(in, line) + std::to_string(column) + ":";
}

}  // namespace quorvel::cli
