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

// A private temporary file (see CreatePrivateFile), used through what made
// it, never opened again by a name that could lead elsewhere; gone with the
// object.
class TempFile {
 public:
  TempFile() = default;
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Creates the file; false, with the reason, when it cannot. With `writer`,
  // for content this program writes: a stream to write it through, to be
  // closed before the library is given path(). Without, the file is ready
  // for the library to write.
  bool Create(std::string* why, File* writer = nullptr);
  // A stream reading the file from its first byte (what the library wrote);
  // null, with errno set, when it cannot be had.
  File Reader();
  // Removes the file's name now, where it has one and the system lets it
  // (Windows: while the reader is open, which goes on reading it); otherwise
  // the object still does when it goes. The file is then gone even if the
  // program is killed.
  void RemoveEarly();
  // How the library is to reach the file.
  const std::string& path() const { return path_; }

 private:
  std::FILE* held_ = nullptr;
  std::string path_;
};

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_SYSTEM_FILES_H
