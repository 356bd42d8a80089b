// The output side of a line file: lines appended in order, saved once.
//
// Observable behaviour is that of a list saved at the end of a conversion:
// every line followed by CR LF; the file at the path is created or replaced
// only by Save(), in one step, and a conversion that fails (or a writer that
// is destroyed unsaved) leaves an existing file exactly as it was.
//
// Underneath, the bytes are streamed: they gather in a 1 MiB buffer which,
// when full, is written to a temporary file beside the target, so a
// gigabyte of output never sits in memory. Failures of that stream are held
// back and raised by Save(), where a save would meet them: a conversion that
// fails later still reports its own failure.
//   - "Cannot create file <path>": the temporary file cannot be made, or the
//     target cannot be replaced (read-only, a folder, held open elsewhere).
//   - "Stream write error": fewer bytes were written than the output holds.
// A target that is not a regular file (a device, a pipe) is never replaced:
// its output is kept in memory and written into it in place by Save(), so
// nothing reaches it before the conversion has succeeded.
#ifndef QUORVEL_TEXT_LINE_WRITER_H
#define QUORVEL_TEXT_LINE_WRITER_H

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace quorvel {

class LineWriter {
 public:
  // Remembers the path; touches nothing yet. A null path is the empty path.
  explicit LineWriter(const char* path);
  // An unsaved writer removes its temporary file.
  ~LineWriter();
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  // Appends bytes to the current line.
  void Append(std::string_view bytes) {
    if (bytes.size() <= capacity_ - used_) {
      if (!bytes.empty()) std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
      used_ += bytes.size();
    } else {
      AppendSlow(bytes);
    }
  }
  // Ends the current line with CR LF.
  void EndLine() { Append(std::string_view("\r\n", 2)); }
  void AppendLine(std::string_view line) {
    Append(line);
    EndLine();
  }

  // Writes everything out and puts the file in place, or raises the failure
  // the save met. Call once, as the conversion's last step.
  void Save();

 private:
  enum class Sink { kUndecided, kTempFile, kMemory, kDiscard };

  void AppendSlow(std::string_view bytes);
  void Decide();
  void Drain();
  void Abandon();

  std::string path_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t used_ = 0;
  Sink sink_ = Sink::kUndecided;
  platform::Target target_;
  platform::Handle temp_ = platform::kNoHandle;
  std::string temp_path_;
  bool create_failed_ = false;
  bool write_failed_ = false;
};

}  // namespace quorvel

#endif  // QUORVEL_TEXT_LINE_WRITER_H
