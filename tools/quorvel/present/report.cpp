#include "present/report.h"

#include <cerrno>
#include <cstring>

#include "system/files.h"

namespace quorvel::cli {

void WriteError(std::string_view bytes) {
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), stderr);
}

std::string ErrorText(int error) { return std::strerror(error); }

void Reporter::Error(std::string_view text) const {
  // Nothing can be done about a failing standard error: it is not checked.
  WriteError("quorvel: ");
  WriteError(text);
  WriteError("\n");
}

void Reporter::Info(std::string_view text) const {
  if (quiet_) return;
  WriteError(text);
  WriteError("\n");
}

bool Reporter::OutputFailed(int error) const {
  Error("cannot write standard output: " + (error != 0 ? ErrorText(error) : "write error"));
  return false;
}

bool Reporter::Output(std::string_view bytes) const {
  errno = 0;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) {
    return OutputFailed(errno);
  }
  return true;
}

bool Reporter::OutputFile(std::FILE* in) const {
  errno = 0;
  const PassEnd end = CopyStream(in, stdout);
  switch (end.status) {
    case PassStatus::kOk:
      return FinishOutput();
    case PassStatus::kReadFailed:
      Error("cannot read a temporary file: " + ErrorText(end.error));
      return false;
    case PassStatus::kWriteFailed:
    case PassStatus::kNotConvertible:
      break;
  }
  return OutputFailed(end.error);
}

bool Reporter::FinishOutput() const {
  // A write that failed earlier may have left errno as it was: 0 then says
  // that no reason is known.
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) return OutputFailed(errno);
  return true;
}

}  // namespace quorvel::cli
