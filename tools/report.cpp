#include "report.h"

#include <cerrno>
#include <cstring>

#include "files.h"

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

bool Reporter::OutputFailed() const {
  Error("cannot write standard output: " + (errno != 0 ? ErrorText(errno) : "write error"));
  return false;
}

bool Reporter::Output(std::string_view bytes) const {
  errno = 0;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) {
    return OutputFailed();
  }
  return true;
}

bool Reporter::OutputFile(std::FILE* in) const {
  errno = 0;
  switch (CopyStream(in, stdout)) {
    case PassStatus::kOk:
      return FinishOutput();
    case PassStatus::kReadFailed:
      Error("cannot read a temporary file: " + ErrorText(errno));
      return false;
    case PassStatus::kWriteFailed:
    case PassStatus::kNotConvertible:
      break;
  }
  return OutputFailed();
}

bool Reporter::FinishOutput() const {
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) return OutputFailed();
  return true;
}

}  // namespace quorvel::cli
