// How an output file is saved: where its bytes gather while a conversion
// runs, and how they take the target's place once it has succeeded (see
// output.h for what a caller sees). The platform layer below offers only
// primitives; every decision is made here.
#ifndef QUORVEL_IO_SAVE_H
#define QUORVEL_IO_SAVE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace quorvel {

// Told which temporary files a save holds, so that a host interrupted
// mid-conversion can remove them. Called on the converting thread; must not
// raise (a call comes after the target has been replaced, when nothing may
// fail any more).
class TemporaryListener {
 public:
  // `path` (valid during the call only) is held from Held(path, true) until
  // Held(path, false): removed, put in the target's place, or, where the
  // system removed the target and could not give the new file its name,
  // kept as the only copy of the output.
  virtual void Held(std::string_view path, bool held) noexcept = 0;
  // The target itself is being written, in place (true), or no longer is
  // (false): an interruption in between would leave it partly written, so
  // a host defers its ending until the second call.
  virtual void WritingInPlace(bool /*writing*/) noexcept {}

 protected:
  ~TemporaryListener() = default;
};

// How an output path is to be saved.
enum class SaveKind {
  kReplace,  // a regular file, or nothing yet: written to a temporary file
             // beside it, which then takes its place in one step
  kInPlace,  // a regular file that a replacement would change in more than
             // its content, or one behind a link the system cannot name, or
             // one a process holds open: rewritten in place
  kStream,   // a device or a pipe: written in place
  kFolder,   // a folder: cannot be saved to
  kRefused,  // the system refuses the path
};

struct SaveTarget {
  SaveKind kind = SaveKind::kReplace;
  // kReplace: the file's own path, links followed, so a link stays and the
  // file it points to is saved in its own folder; otherwise the path as
  // given (opening it follows the links).
  std::string path;
  bool exists = false;        // a regular file is there now
  platform::FileInfo info;    // of that file, as it was inspected
  platform::Error error = 0;  // kRefused: why
};

// An error without a number of the system's: a write that moved nothing and
// said nothing.
inline constexpr platform::Error kWroteNothing = -1;

// The number a failure carries for `error`: 0 for kWroteNothing.
inline int SystemError(platform::Error error) { return error > 0 ? error : 0; }

// Writes all `size` bytes: 0, or the error that stopped them.
platform::Error WriteAll(platform::Handle handle, const char* bytes, std::size_t size);

// Says how `path` is to be saved.
SaveTarget InspectTarget(const char* path);

// The folder holding `path` ("." for a bare name) and the same with its
// separator, "" for a bare name: the prefix of a file beside it.
std::string FolderOf(std::string_view path);
std::string FolderPrefix(std::string_view path);

// The file the output gathers in (a temporary file beside the target, or a
// spool), and the last step that puts it in place. Removes a temporary file
// it still holds when it goes.
class SaveFile {
 public:
  SaveFile(std::string path, TemporaryListener* listener)
      : path_(std::move(path)), listener_(listener) {}
  ~SaveFile() { Abandon(); }
  SaveFile(const SaveFile&) = delete;
  SaveFile& operator=(const SaveFile&) = delete;

  // Inspects the target and makes the file the output gathers in. False
  // when the target cannot be saved to or nothing can be made for it: the
  // failure is raised by Finish.
  bool Open();
  platform::Handle handle() const { return handle_; }
  const std::string& path() const { return path_; }
  // Why Open failed: the system's error number, 0 when it gave none.
  platform::Error error() const { return error_; }
  // Writes out into the temporary file (not a spool) are worth starting on
  // their way to the disk.
  bool flushed() const { return !temp_path_.empty(); }
  // Removes the temporary file not yet put in place.
  void Abandon();
  // Puts the `size` bytes gathered in place, using `buffer` (`capacity`
  // bytes) for a copy; or raises what the save met. Call once, last.
  void Finish(std::uint64_t size, char* buffer, std::size_t capacity);

 private:
  static void TellNaming(void* context, const std::string& name, bool held);
  bool CreateTemp();
  bool TakeOver();
  void RequireStillTarget();
  const platform::FileInfo* Decided() const;
  bool Replace();
  void CopyInPlace(std::uint64_t size, char* buffer, std::size_t capacity);
  void Tell(bool held) const;

  std::string path_;
  TemporaryListener* listener_;
  SaveTarget target_;
  platform::Handle handle_ = platform::kNoHandle;
  std::string temp_path_;  // empty for a spool, which has no name
  platform::Error error_ = 0;
};

}  // namespace quorvel

#endif  // QUORVEL_IO_SAVE_H
