#include "system/files.h"

#include <cerrno>
#include <cstring>

#include "present/report.h"
#include "system/system.h"

namespace quorvel::cli {

PassEnd ReadFailed() { return {PassStatus::kReadFailed, errno}; }

PassEnd WriteFailed() { return {PassStatus::kWriteFailed, errno}; }

PassEnd CopyNulEnd(std::string_view rest, std::FILE* in, std::FILE* out) {
  std::string end(rest.substr(0, 2));
  if (end.size() == 1) {
    const int next = std::fgetc(in);
    if (next == EOF && std::ferror(in) != 0) return ReadFailed();
    if (next != EOF) end += static_cast<char>(next);
  }
  if (std::fwrite(end.data(), 1, end.size(), out) != end.size()) return WriteFailed();
  return {};
}

namespace {

PassEnd Copy(std::FILE* in, std::FILE* out, bool to_nul) {
  char buffer[1 << 16];
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, in);
    if (got == 0) return std::ferror(in) != 0 ? ReadFailed() : PassEnd{};
    const void* nul = to_nul ? std::memchr(buffer, '\0', got) : nullptr;
    const std::size_t kept =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - buffer) : got;
    if (kept > 0 && std::fwrite(buffer, 1, kept, out) != kept) return WriteFailed();
    if (nul != nullptr) return CopyNulEnd(std::string_view(buffer + kept, got - kept), in, out);
  }
}

}  // namespace

PassEnd CopyStream(std::FILE* in, std::FILE* out) { return Copy(in, out, false); }

PassEnd CopyContent(std::string_view head, std::FILE* in, std::FILE* out) {
  const std::size_t nul = head.find('\0');
  const std::string_view kept = head.substr(0, nul);
  if (!kept.empty() && std::fwrite(kept.data(), 1, kept.size(), out) != kept.size()) {
    return WriteFailed();
  }
  return nul != std::string_view::npos ? CopyNulEnd(head.substr(nul), in, out)
                                       : Copy(in, out, true);
}

File OpenFile(const std::string& path, const char* mode) {
  return File(OpenBinaryFile(path, mode));
}

bool CloseFile(File file) { return std::fclose(file.release()) == 0; }

TempFile::~TempFile() {
  if (held_ != nullptr) std::fclose(held_);
  if (!path_.empty()) RemoveFile(path_);
}

bool TempFile::Create(std::string* why, File* writer) {
  held_ = CreatePrivateFile(&path_, why);
  if (held_ == nullptr) return false;
  if (writer != nullptr) {
    writer->reset(OpenPrivateFile(&held_, path_, "wb"));
    if (*writer == nullptr) {
      *why = "cannot write a temporary file: " + ErrorText(errno);
      return false;
    }
  } else {
    ReleasePrivateFile(&held_);
  }
  return true;
}

File TempFile::Reader() { return File(OpenPrivateFile(&held_, path_, "rb")); }

void TempFile::RemoveEarly() {
  if (!path_.empty() && RemoveFile(path_)) path_.clear();
}

}  // namespace quorvel::cli
