#include "files.h"

#include <cerrno>

#include "system.h"

namespace quorvel::cli {

PassEnd ReadFailed() { return {PassStatus::kReadFailed, errno}; }

PassEnd WriteFailed() { return {PassStatus::kWriteFailed, errno}; }

PassEnd CopyStream(std::FILE* in, std::FILE* out) {
  char buffer[1 << 16];
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, in);
    if (got == 0) return std::ferror(in) != 0 ? ReadFailed() : PassEnd{};
    if (std::fwrite(buffer, 1, got, out) != got) return WriteFailed();
  }
}

File OpenFile(const std::string& path, const char* mode) {
  return File(std::fopen(path.c_str(), mode));
}

bool CloseFile(File file) { return std::fclose(file.release()) == 0; }

TempFile::~TempFile() {
  if (!path_.empty()) RemoveFile(path_);
}

bool TempFile::Create(std::string* why) { return CreatePrivateFile(&path_, why); }

}  // namespace quorvel::cli
