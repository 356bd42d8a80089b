// Files the command line opens itself: a private temporary file for each
// stream or conversion the library must see as a path, and C streams that
// close themselves.
#ifndef QUORVEL_TOOLS_SYSTEM_FILES_H
#define QUORVEL_TOOLS_SYSTEM_FILES_H

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace quorvel::cli {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// How a pass over a file ended.
enum class PassStatus { kOk, kReadFailed, kWriteFailed, kNotConvertible };

// A pass's status and, for a failed read or write, the system's error code
// as the failing call left it: taken there, since any later call may change
// errno before the failure is reported.
struct PassEnd {
  PassStatus status = PassStatus::kOk;
  int error = 0;
};
// The end of a pass whose read or write just failed (errno as it stands).
PassEnd ReadFailed();
PassEnd WriteFailed();

// Copies `in` to `out` as it is, to the end of `in`.
PassEnd CopyStream(std::FILE* in, std::FILE* out);
// Copies the content of `head` and then `in` to `out`: up to its first NUL
// (which the library takes for the end), or its end. The NUL is copied,
// with the byte after it if there is one (CopyNulEnd), so that the library
// can tell that the content ended early; no more is read, so an endless
// stream of NULs ends at once.
PassEnd CopyContent(std::string_view head, std::FILE* in, std::FILE* out);
// Writes the NUL that begins `rest` (the bytes from it on, as read) to
// `out`, and the byte after it: the next of `rest`, else of `in` if there
// is one.
PassEnd CopyNulEnd(std::string_view rest, std::FILE* in, std::FILE* out);

// Opens `path` (as NativePath gives it) in binary mode, "rb" or "wb" (see
// OpenBinaryFile); null, with errno set, on failure.
File OpenFile(const std::string& path, const char* mode);

// Closes `file`; false when the system reports that written data was lost.
bool CloseFile(File file);

// A private temporary file (see CreatePrivateFile), removed with the object.
class TempFile {
 public:
  TempFile() = default;
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Creates the file; false, with the reason, when it cannot.
  bool Create(std::string* why);
  // Removes the file now if the system lets it (POSIX: even while it is
  // open, which then goes on reading it); otherwise the object still does
  // when it goes. A file opened just before is then gone even if the program
  // is killed.
  void RemoveEarly();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_SYSTEM_FILES_H
