#include "session.h"

#include <algorithm>
#include <cerrno>

#include "commands.h"
#include "common/failure.h"
#include "utf8.h"

namespace quorvel::cli {
namespace {

constexpr char kStandardInput[] = "(standard input)";
constexpr char kStandardOutput[] = "(standard output)";

std::string LastError(const Library& library) {
  char message[QUORVEL_BUFFER_SIZE];
  library.get_last_error(message);
  return message;
}

// `text` from GBK to UTF-8, a byte that is not GBK kept as it is.
std::string Utf8OrBytes(std::string_view text) {
  Converter to_utf8(Charset::kGbk, Charset::kUtf8);
  std::string out;
  while (!text.empty()) {
    std::string piece;
    std::size_t bad = 0;
    if (to_utf8.Append(text, &piece, &bad)) return out + piece;
    piece.clear();
    std::size_t unused = 0;
    to_utf8.Append(text.substr(0, bad), &piece, &unused);
    out += piece;
    out += text[bad];
    text.remove_prefix(bad + 1);
  }
  return out;
}

// The text of a library message before the name it carries: "Cannot create
// file " (the library's own template, up to its placeholder).
std::string_view Lead(MessageId id) {
  const std::string_view pattern = MessageTemplate(id);
  return pattern.substr(0, pattern.find('%'));
}

// Where a message naming a file has the name: after "Cannot open file " or
// "Cannot create file "; npos for any other message.
std::size_t FileNameAt(std::string_view message) {
  for (const MessageId id : {MessageId::kCannotOpenFile, MessageId::kCannotCreateFile}) {
    if (message.starts_with(Lead(id))) return Lead(id).size();
  }
  return std::string_view::npos;
}

}  // namespace

std::string Counted(std::int64_t count, std::string_view noun) {
  return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

bool Session::Resolve(const std::string& argument, bool input, Endpoint* endpoint) {
  if (argument == "-") {
    *endpoint = {input ? kStandardInput : kStandardOutput, {}, true};
    return true;
  }
  std::string why;
  if (!NativePath(argument, &endpoint->path, &why)) {
    report_.Error(std::string(input ? "INPUT" : "OUTPUT") + " name: " + why);
    return false;
  }
  // Messages show names as the library does (whole, where it cut them).
  endpoint->shown = endpoint->path;
  endpoint->standard = false;
  Name(endpoint->path, endpoint->shown);
  return true;
}

bool Session::ResolveInputAndOutput(Endpoint* in, Endpoint* out) {
  return Resolve(request_.files[0], true, in) && Resolve(request_.files[1], false, out);
}

bool Session::ValueForLibrary(std::string_view option, const std::string& value, std::string* gbk) {
  if (!UnicodeArguments() && !utf8()) {
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

bool Session::CreateTemp(TempFile* temp) {
  std::string why;
  if (temp->Create(&why)) return true;
  ReportOwnFailure(why);
  return false;
}

int Session::ReportOwnFailure(std::string_view why) {
  report_.Error(request_.command == Command::kCheck ? "cannot check: " + std::string(why)
                                                    : std::string(why));
  return OwnFailureCode();
}

int Session::OwnFailureCode() const {
  return request_.command == Command::kCheck ? kExitCannotCheck : kExitFailed;
}

bool Session::FailedAtOutput(const Outcome& outcome) {
  return !outcome.ok && (outcome.message == MessageTemplate(MessageId::kStreamWriteError) ||
                         outcome.message.starts_with(Lead(MessageId::kCannotCreateFile)));
}

int Session::ReportOutputFailure(const Outcome& outcome) {
  const std::string readable = Readable(outcome.message, false);
  return ReportOwnFailure(outcome.message.starts_with(Lead(MessageId::kCannotCreateFile))
                              ? readable
                              : "cannot write a temporary file: " + readable);
}

bool Session::Usable(const Converter& converter) {
  if (converter.ok()) return true;
  report_.Error("this system has no converter between UTF-8 and GBK");
  return false;
}

File Session::StartCopy(const Endpoint& in, LibraryInput* input) {
  if (!CreateTemp(&input->temp)) return nullptr;
  File copy = OpenFile(input->temp.path(), "wb");
  if (copy == nullptr) ReportPassFailure(WriteFailed(), in, {});
  return copy;
}

int Session::EndCopy(PassEnd end, const EncodingStop& stop, const Endpoint& in, bool text,
                     File copy, LibraryInput* input) {
  if (end.status == PassStatus::kReadFailed && !in.standard) {
    return ReportUnreadable(in, text, end.error);
  }
  if (end.status == PassStatus::kOk && !CloseFile(std::move(copy))) end = WriteFailed();
  if (end.status != PassStatus::kOk) return ReportPassFailure(end, in, stop);
  input->path = input->temp.path();
  Name(input->path, in.shown);
  return kGoOn;
}

std::FILE* Session::OpenInput(const Endpoint& in, File* holder, bool* regular) {
  if (in.standard) {
    *regular = false;
    return stdin;
  }
  *holder = OpenFile(in.path, "rb");
  *regular = *holder != nullptr && IsRegularFile(holder->get());
  return holder->get();
}

void Session::Name(const std::string& passed, const std::string& shown) {
  names_.emplace_back(passed, shown);
}

Outcome Session::Txt2Xml(const std::string& in, const std::string& out, const std::string& nsr,
                         const std::string& qymc) {
  Outcome outcome;
  outcome.ok = library_.txt2xml(in.c_str(), out.c_str(), request_.type, nsr.c_str(),
                                qymc.c_str()) == QUORVEL_RESULT_OK;
  if (!outcome.ok) outcome.message = LastError(library_);
  return outcome;
}

Outcome Session::Xml2Txt(const std::string& in, const std::string& out) {
  Outcome outcome;
  char nsr[QUORVEL_BUFFER_SIZE] = "";
  char reserved[QUORVEL_BUFFER_SIZE] = "";
  outcome.ok = library_.xml2txt(in.c_str(), out.c_str(), 0, &outcome.rows, nsr, reserved) ==
               QUORVEL_RESULT_OK;
  if (!outcome.ok) outcome.message = LastError(library_);
  outcome.nsr = nsr;
  return outcome;
}

int Session::ReportUnreadable(const Endpoint& in, bool text, int error) {
  TempFile out;
  if (!CreateTemp(&out)) return OwnFailureCode();
  const Outcome outcome =
      text ? Txt2Xml(in.path, out.path(), {}, {}) : Xml2Txt(in.path, out.path());
  if (!outcome.ok && !outcome.message.empty()) return ReportLibraryFailure(outcome, false);
  report_.Error("cannot read " + in.shown + ": " + ErrorText(error));
  return kExitFailed;
}

std::string Session::Readable(std::string_view message, bool from_gbk) const {
  auto plain = [from_gbk](std::string_view bytes) {
    return from_gbk ? Utf8OrBytes(bytes) : std::string(bytes);
  };
  // The library cuts a longer message at this many bytes, which can cut the
  // file name it ends with: a name that the rest of such a message begins is
  // that name.
  const std::size_t cut_name_at =
      message.size() >= QUORVEL_BUFFER_SIZE - 1 ? FileNameAt(message) : std::string_view::npos;
  std::string readable;
  std::size_t copied = 0;  // message[0, copied) is in `readable`
  std::size_t at = 0;
  while (at < message.size()) {
    const std::string_view rest = message.substr(at);
    const auto name = std::find_if(names_.begin(), names_.end(), [&](const auto& entry) {
      return !entry.first.empty() && (rest.starts_with(entry.first) ||
                                      (at == cut_name_at && entry.first.starts_with(rest)));
    });
    if (name == names_.end()) {
      ++at;
      continue;
    }
    readable += plain(message.substr(copied, at - copied)) + name->second;
    at = std::min(at + name->first.size(), message.size());
    copied = at;
  }
  return readable + plain(message.substr(copied));
}

int Session::ReportLibraryFailure(const Outcome& outcome, bool from_gbk) {
  report_.Error(Readable(outcome.message, from_gbk));
  return kExitFailed;
}

std::string Session::At(const Endpoint& in, std::int64_t line) {
  return in.shown + ":" + std::to_string(line) + ":";
}

std::string Session::At(const Endpoint& in, std::int64_t line, std::size_t column) {
  return At(in, line) + std::to_string(column) + ":";
}

int Session::ReportPassFailure(PassEnd end, const Endpoint& in, const EncodingStop& stop) {
  switch (end.status) {
    case PassStatus::kOk:
      break;
    case PassStatus::kReadFailed:
      report_.Error("cannot read " + in.shown + ": " + ErrorText(end.error));
      break;
    case PassStatus::kWriteFailed:
      return ReportOwnFailure("cannot write a temporary file: " + ErrorText(end.error));
    case PassStatus::kNotConvertible:
      report_.Error(At(in, stop.line, stop.column) + " " +
                    (stop.row.empty() ? "" : "row " + stop.row + ": ") + stop.what);
      break;
  }
  return kExitFailed;
}

bool Session::Deliver(const Endpoint& out, TempFile& temp) {
  if (!out.standard) return true;
  File converted = OpenFile(temp.path(), "rb");
  if (converted == nullptr) {
    report_.Error("cannot read a temporary file: " + ErrorText(errno));
    return false;
  }
  temp.RemoveEarly();
  return report_.OutputFile(converted.get());
}

bool Session::Summarize(const std::string& line) const {
  return report_.quiet() || (report_.Output(line + "\n") && report_.FinishOutput());
}

}  // namespace quorvel::cli
