#include "present/failures.h"

#include <algorithm>

#include "charset/charset.h"
#include "library/conversions.h"
#include "system/system.h"

namespace quorvel::cli {
namespace {

// ": " and the system's reason, when it gave one.
std::string Reason(const Outcome& outcome) {
  return outcome.system_error != 0 ? ": " + SystemErrorText(outcome.system_error) : "";
}

// What the search that ran past the document's last line was looking for.
std::string Explained(const Outcome& outcome, const std::string& input) {
  switch (outcome.unfinished) {
    case Unfinished::kNsr:
      return input + ": no line holds an nsr value (<nsr>, not empty)";
    case Unfinished::kRows:
      return input + ": no line holds a rows value (<rows>, not empty)";
    case Unfinished::kDataLine:
      return input + ": no <data> line after the first line";
    case Unfinished::kRowBlock:
      return input +
             ": the document ends inside a row block (no closing </row> line), or "
             "before all the row blocks its rows value announces (searched from line " +
             std::to_string(outcome.line) + ")";
    case Unfinished::kNone:
      break;
  }
  return input;
}

}  // namespace

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

std::string QuotedName(std::string_view name) {
  auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; };
  if (std::none_of(name.begin(), name.end(), control)) return std::string(name);
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::string quoted = "'";
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      quoted += "\\n";
    } else if (c == '\r') {
      quoted += "\\r";
    } else if (c == '\t') {
      quoted += "\\t";
    } else if (control(c)) {
      quoted += "\\x";
      quoted += kDigits[byte >> 4];
      quoted += kDigits[byte & 0xF];
    } else {
      if (c == '\\' || c == '\'') quoted += '\\';
      quoted += c;
    }
  }
  return quoted + "'";
}

void Names::Add(std::string passed, std::string shown) {
  names_.emplace_back(std::move(passed), std::move(shown));
}

std::string Names::Shown(std::string_view passed) const {
  // The latest first: a name given again stands for what it stands for now.
  for (auto entry = names_.rbegin(); entry != names_.rend(); ++entry) {
    if (entry->first == passed) return entry->second;
  }
  return QuotedName(passed);
}

std::string FailureText(const Outcome& outcome, const Names& names, const Subject& subject,
                        bool from_gbk) {
  const std::string file = outcome.file.empty() ? std::string() : names.Shown(outcome.file);
  switch (outcome.kind) {
    case MessageId::kCannotOpenFile:
      return (file.empty() ? subject.input : file) + ": cannot open" + Reason(outcome);
    case MessageId::kCannotCreateFile:
      return (file.empty() ? subject.output : file) + ": cannot create" + Reason(outcome);
    case MessageId::kStreamWriteError:
      return (file.empty() ? subject.output : file) + ": cannot write" + Reason(outcome);
    case MessageId::kOutOfMemory:
      return "out of memory";
    case MessageId::kListIndexOutOfBounds:
      return Explained(outcome, subject.input) + " (" + outcome.message + ")";
    case MessageId::kNotValidInteger:
      break;
  }
  const std::string_view text = MessageOf(outcome);
  return subject.input + ": " + (from_gbk ? Utf8OrBytes(text) : std::string(text));
}

bool FailedAtOutput(const Outcome& outcome) {
  return outcome.failed && (outcome.kind == MessageId::kStreamWriteError ||
                            outcome.kind == MessageId::kCannotCreateFile);
}

bool OutOfMemory(const Outcome& outcome) {
  return outcome.failed && outcome.kind == MessageId::kOutOfMemory;
}

std::string Counted(std::int64_t count, std::string_view noun) {
  return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

}  // namespace quorvel::cli
