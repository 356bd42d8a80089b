// The output side of a line file: lines appended in order, saved once.
//
// Observable behaviour is that of a list saved at the end of a conversion:
// every line followed by CR LF; the file at the path is written only by
// Save(), and a conversion that fails (or a writer that is destroyed
// unsaved) writes nothing and leaves an existing file exactly as it was.
//
// Underneath, the bytes are streamed: they gather in a 1 MiB buffer which,
// when full, is written out, so memory stays the same whatever the size of
// the output and whatever the target. Where they go is decided when the
// buffer first fills (or at Save()), by what the path names, symbolic links
// followed by the system (io/save.h decides):
//   - A regular file, or nothing yet: a temporary file beside it
//     (NAME.~XXXXXXXX.tmp, random; .~XXXXXXXX.tmp where that name would be
//     too long). Save() gives it the target's owner, group and permissions,
//     read from the target's own descriptor (on Windows the attributes and
//     access list, not the owner: the caller becomes the owner), flushes it
//     to the disk and puts it in the target's place in one step, then
//     flushes the folder. After a crash at any moment the target is either
//     whole and old or whole and new. Just before the replace the target's
//     name must still lead to the file inspected at the start (device and
//     file number): a link or another file put there meanwhile fails the
//     save with "Cannot create file" and nothing written. Setuid and setgid
//     bits are only ever given with the owner and group they came with.
//   - A regular file that a replacement would change in more than its
//     content: one whose owner or group the caller cannot give a new file,
//     one with more than one hard link, an access list or other extended
//     attributes (checked again at Save(): a second name gained meanwhile
//     counts), one beside which no temporary file can be made or that the
//     system refuses to have replaced, one reached through /proc/PID/fd
//     (/dev/fd/N, /dev/stdout: a file a process holds open), one behind a
//     link the system cannot name. Its owner, permissions, links and
//     attributes stay: Save() rewrites it in place, from the temporary file
//     or from a spool in the system's temporary folder, only after the
//     conversion has succeeded. Room for the new content is reserved first
//     where the file system can (not on copy-on-write ones), so a full disk
//     fails the save with the file whole; any other failure while it is
//     being rewritten can leave it partly written.
//   - A device or a pipe: spooled the same way and written into it by
//     Save(), so nothing reaches it before the conversion has succeeded.
//     The spool holds the whole output, so the temporary folder ($TMPDIR or
//     /tmp, often a file system in memory; on Windows GetTempPathA's)
//     needs room for it, even when the device is /dev/null. A pipe whose
//     reader has gone fails the save with "Stream write error"; no SIGPIPE
//     reaches the host.
//   - A folder, or a path the system refuses to follow (a loop of links):
//     the output is dropped and Save() fails.
// Failures of that stream are held back and raised by Save(), where a save
// would meet them: a conversion that fails first still reports its own
// failure. Each carries the system's error number where there is one.
//   - "Cannot create file <path>": the path is empty, a folder, or refused;
//     no temporary file or spool can be made for it; the target cannot be
//     replaced (read-only, held open elsewhere) or opened to be rewritten;
//     the target's name leads to another file than at the start.
//   - "Stream write error": fewer bytes were written than the output holds
//     (the spool's folder or the target's disk is full), or the system
//     could not flush them to the disk.
// Nothing after the replace can fail: everything that can (memory
// included) is done before it, and a failure to flush the folder after it
// is not reported, since the new file is already in place and a failure
// must mean the old one is. Should Windows remove the old file and then fail
// to give the new one its name, every retry included, the save fails with
// "Cannot create file" and the new content stays in the temporary file,
// never deleted.
#ifndef QUORVEL_IO_OUTPUT_H
#define QUORVEL_IO_OUTPUT_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "io/background.h"
#include "io/save.h"
#include "platform/platform.h"

namespace quorvel {

class LineWriter {
 public:
  // Remembers the path; touches nothing yet. A null path is the empty path.
  // `listener`, if any, is told of the temporary file the save holds.
  explicit LineWriter(const char* path, TemporaryListener* listener = nullptr);
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
  void Put(char byte) { Append(std::string_view(&byte, 1)); }
  // Ends the current line with CR LF.
  void EndLine() { Append(std::string_view("\r\n", 2)); }
  void AppendLine(std::string_view line) {
    Append(line);
    EndLine();
  }

  // Room for `size` more bytes, to be written straight into the buffer: the
  // caller fills [Reserve(size), ...) with at most `size` bytes and hands the
  // end to Commit. Used for a row at a time, when its size is known to be
  // bounded (at most kMaxReserve); larger output goes through Append.
  static constexpr std::size_t kMaxReserve = std::size_t{64} << 10;
  char* Reserve(std::size_t size) {
    if (capacity_ - used_ < size) Drain(false);  // kMaxReserve fits an empty buffer
    return buffer_.get() + used_;
  }
  void Commit(const char* end) { used_ = static_cast<std::size_t>(end - buffer_.get()); }

  // Writes everything out and puts the file in place, or raises the failure
  // the save met. Call once, as the conversion's last step.
  void Save();

 private:
  // kFile: the temporary file or spool of `save_`.
  enum class Sink { kUndecided, kFile, kDiscard };

  void AppendSlow(std::string_view bytes);
  platform::Error WriteOut(const char* bytes, std::size_t size);
  void Write(const char* bytes, std::size_t size);
  void Settle(platform::Error error, std::size_t size);
  void Decide();
  void Drain(bool last);
  void FinishWriteBehind();
  static void WriteBehindJob(void* writer);
  void FlushBehind(std::uint64_t end);
  static void FlushJob(void* writer);

  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t used_ = 0;
  Sink sink_ = Sink::kUndecided;
  SaveFile save_;
  std::uint64_t written_ = 0;  // bytes in the temporary file or spool
  bool create_failed_ = false;
  bool write_failed_ = false;
  platform::Error write_error_ = 0;

  // A full buffer is written out on a second thread while the next fills
  // (`spare_` then holds the one being written); its outcome is settled
  // before anything else touches the file.
  std::unique_ptr<char[]> spare_;
  std::size_t behind_size_ = 0;
  platform::Error behind_error_ = 0;
  Background background_;

  // Flushing behind the writer, where the system cannot be asked to start a
  // write-back (see FlushBehind). Touched by whichever thread writes, never
  // by two at once: the main thread only once the write behind is waited for.
  std::uint64_t flushed_to_ = 0;
  // The first flush behind that failed: set on the flush's thread, read once
  // the flush is waited for.
  platform::Error flush_error_ = 0;
  Background flusher_;
};

}  // namespace quorvel

#endif  // QUORVEL_IO_OUTPUT_H
