#include "io/save.h"

#include <utility>

#include "common/failure.h"

namespace quorvel {
namespace {

using platform::Error;
using platform::FileInfo;
using platform::FileType;
using platform::Handle;

// Closes a handle when it goes out of scope, exceptions included.
class ScopedHandle {
 public:
  ScopedHandle() = default;
  ~ScopedHandle() {
    if (handle != platform::kNoHandle) platform::Current().close(handle);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  Handle handle = platform::kNoHandle;
};

// Where the last folder separator of `path` is, or npos.
std::size_t LastSeparator(std::string_view path) {
  return path.find_last_of(platform::Current().separators);
}

// What the file at `path` is now, the name's last part not followed.
Error DescribeName(const std::string& path, FileInfo* info) {
  platform::Api& api = platform::Current();
  ScopedHandle file;
  if (const Error error = api.open_path(path.c_str(), &file.handle)) {
    file.handle = platform::kNoHandle;
    return error;
  }
  return api.describe(file.handle, info);
}

// How a regular file found at the path is saved: in place where a new file
// could not stand in for it (another name, attributes a new file would not
// get, a folder that takes no new file, a file a process holds open, a
// link the system cannot name). `path` is where the file is.
SaveKind RegularKind(const platform::Resolved& resolved, std::string_view path) {
  const FileInfo& info = resolved.info;
  if (!resolved.named || resolved.held_open || info.links > 1 || info.extended) {
    return SaveKind::kInPlace;
  }
  const std::string folder = FolderOf(path);
  return platform::Current().check_access(folder.c_str(), platform::Access::kCreateIn) == 0
             ? SaveKind::kReplace
             : SaveKind::kInPlace;
}

}  // namespace

Error WriteAll(Handle handle, const char* bytes, std::size_t size) {
  while (size > 0) {
    const std::ptrdiff_t n = platform::Current().write(handle, bytes, size);
    if (n <= 0) return n < 0 ? static_cast<Error>(-n) : kWroteNothing;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

std::string FolderOf(std::string_view path) {
  const std::size_t cut = LastSeparator(path);
  if (cut == std::string_view::npos) return ".";
  return std::string(path.substr(0, cut == 0 ? 1 : cut));
}

std::string FolderPrefix(std::string_view path) {
  const std::size_t cut = LastSeparator(path);
  return cut == std::string_view::npos ? std::string() : std::string(path.substr(0, cut + 1));
}

SaveTarget InspectTarget(const char* path) {
  SaveTarget target;
  platform::Resolved resolved;
  target.error = platform::Current().resolve(path, &resolved);
  target.path = std::move(resolved.path);
  if (target.error != 0) {
    target.path = path;
    target.kind = SaveKind::kRefused;
    return target;
  }
  target.info = resolved.info;
  if (!resolved.found) {
    // Nothing there yet: a new file (a missing folder fails when the
    // temporary file cannot be made beside it).
    target.kind = resolved.named ? SaveKind::kReplace : SaveKind::kInPlace;
  } else if (resolved.info.type == FileType::kFolder) {
    target.kind = SaveKind::kFolder;
  } else if (resolved.info.type != FileType::kRegular) {
    target.kind = SaveKind::kStream;  // a device, a pipe, a socket
  } else {
    target.exists = true;
    target.kind = RegularKind(resolved, target.path);
  }
  return target;
}

void SaveFile::Tell(bool held) const {
  if (listener_ != nullptr && !temp_path_.empty()) listener_->Held(temp_path_, held);
}

// Tells the listener of a name the temporary file is about to take, or
// that the name was taken by another file.
void SaveFile::TellNaming(void* context, const std::string& name, bool held) {
  const auto* save = static_cast<const SaveFile*>(context);
  if (save->listener_ != nullptr) save->listener_->Held(name, held);
}

// A new file beside the target, under its name with a random suffix; where
// that name cannot be made (too long for the system, which says so in
// several ways, so any failure is tried once more), under the suffix alone
// in the same folder. While it replaces an existing file only its owner may
// read it, until it takes the target's permissions. The listener learns
// each name before the file exists under it, so that an interruption never
// leaves one it was not told of.
bool SaveFile::CreateTemp() {
  platform::Api& api = platform::Current();
  const platform::TempNaming naming = {TellNaming, this};
  error_ = api.create_temp(target_.path.c_str(), target_.exists, &naming, &handle_, &temp_path_);
  if (error_ != 0) {
    const std::string prefix = FolderPrefix(target_.path);
    error_ = api.create_temp(prefix.c_str(), target_.exists, &naming, &handle_, &temp_path_);
  }
  return error_ == 0;
}

// An existing file beside which no temporary file can be made (a folder
// where the caller may not create files) is rewritten in place instead.
bool SaveFile::Open() {
  if (path_.empty()) return false;
  platform::Api& api = platform::Current();
  target_ = InspectTarget(path_.c_str());
  error_ = target_.error;
  bool opened = false;
  if (target_.kind == SaveKind::kReplace) {
    opened = CreateTemp();
    if (!opened && target_.exists) target_.kind = SaveKind::kInPlace;
    // The file to be replaced stays whole until the replace, but what is
    // cached of it is of no more use: the pages go back to the system
    // before the new file needs its own. (Should the target be the
    // conversion's own input, what is left of it is read from the disk
    // again: slower, never different.)
    if (opened && target_.exists) api.release_cache(target_.path.c_str());
  }
  if (target_.kind == SaveKind::kInPlace || target_.kind == SaveKind::kStream) {
    error_ = api.open_spool(&handle_);
    opened = error_ == 0;
  }
  if (!opened) {
    handle_ = platform::kNoHandle;
    temp_path_.clear();
  }
  return opened;
}

void SaveFile::Abandon() {
  platform::Api& api = platform::Current();
  if (handle_ != platform::kNoHandle) api.close(std::exchange(handle_, platform::kNoHandle));
  if (temp_path_.empty()) return;
  api.remove(temp_path_.c_str());
  Tell(false);
  temp_path_.clear();
}

// A spool, a target that a new file cannot stand in for and a target the
// system refuses to have replaced are rewritten in place.
void SaveFile::Finish(std::uint64_t size, char* buffer, std::size_t capacity) {
  const bool replaced = !temp_path_.empty() && TakeOver() && Replace();
  if (!replaced) CopyInPlace(size, buffer, capacity);
}

// Whether the name of the target still leads to the file inspected at the
// start (device and file number, the last part not followed): a link or
// another file put in its place meanwhile is neither written through nor
// replaced, nor are its owner and permissions taken: "Cannot create file".
// What the file is now goes to `target_.info`.
void SaveFile::RequireStillTarget() {
  FileInfo now;
  if (const Error error = DescribeName(target_.path, &now)) RaiseCannotCreateFile(path_, error);
  const FileInfo& then = target_.info;
  // The identity alone decides: a link put there is a file of its own, and a
  // file the system marks as a reparse point (Windows) may be the same one.
  if (now.device != then.device || now.file != then.file) RaiseCannotCreateFile(path_);
  target_.info = now;
}

// The file found at the target's path when it was inspected (a regular
// file, a device, a pipe), which alone may be written in place; none when
// nothing was there.
const FileInfo* SaveFile::Decided() const {
  return target_.exists || target_.kind == SaveKind::kStream ? &target_.info : nullptr;
}

// Gives the temporary file what the target has beyond its content, read from
// the target's own descriptor: owner and group first (a change of owner
// clears setuid and setgid), and the permission bits only once the owner and
// group are the target's, so that no file ever has setuid or setgid bits
// with another owner or group than they were set with. False where a
// replacement would change the file in more than its content (a second name
// or extended attributes gained meanwhile, an owner or group the caller
// cannot give, bits the system drops): the target is rewritten in place.
bool SaveFile::TakeOver() {
  if (!target_.exists) return true;
  platform::Api& api = platform::Current();
  RequireStillTarget();
  const FileInfo& want = target_.info;
  if (want.links > 1 || want.extended) return false;
  FileInfo got;
  if (api.set_owner(handle_, want.owner, want.group) != 0 || api.describe(handle_, &got) != 0 ||
      got.owner != want.owner || got.group != want.group) {
    return false;
  }
  return api.set_attributes(handle_, want) == 0 && api.describe(handle_, &got) == 0 &&
         got.mode == want.mode && !got.extended;
}

// Puts the temporary file in the target's place, durably. Everything that
// can fail is done before the replace: once the new file is in place the
// save has succeeded, and the folder's flush after it is only done as well
// as the system allows. False for an existing target that the system
// refuses to have replaced (read-only, held open elsewhere): it is to be
// rewritten in place from the temporary file, open again for reading.
bool SaveFile::Replace() {
  platform::Api& api = platform::Current();
  if (const Error error = api.flush(handle_)) RaiseStreamWriteError(error);
  const std::string folder = FolderOf(target_.path);
  Error error = 0;
  if (target_.exists) {
    RequireStillTarget();
    // A read-only target cannot be replaced, as it could not be rewritten.
    error = api.check_access(target_.path.c_str(), platform::Access::kWrite);
  }
  // Held until the moment of the replacement, which on Windows opens the
  // file by its name, exclusively: no other program gets it in between.
  if (const Error closed = api.close(std::exchange(handle_, platform::kNoHandle))) {
    RaiseStreamWriteError(closed);
  }
  bool stranded = false;
  if (error == 0) error = api.replace(temp_path_.c_str(), target_.path.c_str(), &stranded);
  if (error == 0 || stranded) {
    // The old file is gone either way: the new content is kept, in place
    // or under its temporary name rather than lost with it.
    Tell(false);
    temp_path_.clear();
    if (error != 0) RaiseCannotCreateFile(path_, error);
    (void)api.sync_folder(folder.c_str());
    return true;
  }
  platform::InputInfo info;
  if (!target_.exists) RaiseCannotCreateFile(path_, error);
  if (const Error reopen = api.open_for_read(temp_path_.c_str(), &handle_, &info)) {
    handle_ = platform::kNoHandle;
    RaiseCannotCreateFile(path_, reopen);
  }
  return false;
}

// Copies the finished output from the temporary file or spool into the
// target, opened in place, through `buffer`. The output's length is reserved
// first, so that a disk without room for it fails the save while the target
// is still whole; then the target is written from its first byte and cut to
// that length.
namespace {

// Tells the listener, if any, that the target is being written in place,
// for as long as this object lives.
class WritingTarget {
 public:
  explicit WritingTarget(TemporaryListener* listener) : listener_(listener) {
    if (listener_ != nullptr) listener_->WritingInPlace(true);
  }
  ~WritingTarget() {
    if (listener_ != nullptr) listener_->WritingInPlace(false);
  }
  WritingTarget(const WritingTarget&) = delete;
  WritingTarget& operator=(const WritingTarget&) = delete;

 private:
  TemporaryListener* listener_;
};

}  // namespace

void SaveFile::CopyInPlace(std::uint64_t size, char* buffer, std::size_t capacity) {
  platform::Api& api = platform::Current();
  ScopedHandle out;
  if (const Error error = api.open_in_place(target_.path.c_str(), Decided(), &out.handle)) {
    out.handle = platform::kNoHandle;
    RaiseCannotCreateFile(path_, error);
  }
  // Another file put at the path since it was inspected is not written.
  if (out.handle == platform::kNoHandle) RaiseCannotCreateFile(path_);
  const WritingTarget writing(listener_);
  Error error = api.reserve(out.handle, size);
  if (error == 0) error = api.rewind(handle_);
  while (error == 0) {
    const std::ptrdiff_t n = api.read(handle_, buffer, capacity);
    if (n <= 0) {
      error = static_cast<Error>(-n);
      break;
    }
    error = WriteAll(out.handle, buffer, static_cast<std::size_t>(n));
  }
  if (error == 0) error = api.set_length(out.handle, size);
  if (error == 0) error = api.flush(out.handle);
  const Error closed = api.close(std::exchange(out.handle, platform::kNoHandle));
  if (error == 0) error = closed;
  if (error != 0) RaiseStreamWriteError(SystemError(error));
}

}  // namespace quorvel
