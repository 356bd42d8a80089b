#include "present/failures.h"

#include "charset/charset.h"
#include "library/conversions.h"
#include "quorvel.h"

namespace quorvel::cli {
namespace {

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

}  // namespace

void Names::Add(std::string passed, std::string shown) {
  names_.emplace_back(std::move(passed), std::move(shown));
}

std::string Names::Shown(std::string_view passed) const {
  // The latest first: a name given again stands for what it stands for now.
  for (auto entry = names_.rbegin(); entry != names_.rend(); ++entry) {
    if (entry->first == passed) return entry->second;
  }
  return std::string(passed);
}

std::string FailureText(const Outcome& outcome, const Names& names, bool from_gbk) {
  const bool names_file =
      outcome.kind == MessageId::kCannotOpenFile || outcome.kind == MessageId::kCannotCreateFile;
  if (names_file && !outcome.file.empty()) {
    return FormatMessage(outcome.kind, names.Shown(outcome.file));
  }
  // A host of the exports gets at most this many bytes of a message.
  const std::string_view text = MessageOf(outcome).substr(0, QUORVEL_BUFFER_SIZE - 1);
  return from_gbk ? Utf8OrBytes(text) : std::string(text);
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
