// POSIX implementation of the platform layer.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/monitor.h"
#include "platform/platform.h"

namespace quorvel::platform {
namespace {

// A 32-bit system's 32-bit off_t would stop every file at 2 GiB: "Stream
// write error" for a larger output, "Cannot open file" for a larger input.
static_assert(sizeof(off_t) >= 8, "build with _FILE_OFFSET_BITS=64");

int Fd(Handle handle) { return static_cast<int>(handle); }

// The error a call that failed set; never 0, which would read as success.
Error LastError() { return errno != 0 ? errno : EIO; }

// The result of a call that returned `ok`: 0, or the error it set.
Error Result(bool ok) { return ok ? 0 : LastError(); }

Error PosixOpenForRead(const char* path, Handle* handle, InputInfo* info) {
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return LastError();
  struct stat st;
  // POSIX opens folders for reading; the load must refuse them.
  const Error error = ::fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
  if (error != 0) {
    ::close(fd);
    return error;
  }
  info->sized = S_ISREG(st.st_mode);
  info->size = info->sized ? static_cast<std::uint64_t>(st.st_size) : 0;
  // Read front to back, as Windows is told too: the system may read further
  // ahead of the conversion.
  if (info->sized) (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  *handle = fd;
  return 0;
}

// One call moves at most 1 GiB: some kernels refuse larger counts.
std::size_t Chunk(std::size_t size) {
  return size < (std::size_t{1} << 30) ? size : (std::size_t{1} << 30);
}

std::ptrdiff_t PosixRead(Handle handle, char* buffer, std::size_t size) {
  ssize_t n;
  do {
    n = ::read(Fd(handle), buffer, Chunk(size));
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -LastError() : n;
}

// SIGPIPE held back from the calling thread for the length of one write, and
// taken off the pending set again before it is let through: a write into a
// pipe whose reader has gone fails with EPIPE instead of ending the host. The
// system raises the signal whenever the reader is found gone, also when it
// leaves during a write that then returns a short count, so whatever the
// write returned, a SIGPIPE that became pending meanwhile is the write's.
// One pending before is the host's own and is left alone.
class PipeSignalHeld {
 public:
  PipeSignalHeld() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &saved_);
    was_pending_ = Pending();
  }
  ~PipeSignalHeld() {
    if (!was_pending_ && Pending()) {
      const struct timespec none = {0, 0};
      while (sigtimedwait(&pipe_, nullptr, &none) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
  PipeSignalHeld(const PipeSignalHeld&) = delete;
  PipeSignalHeld& operator=(const PipeSignalHeld&) = delete;

 private:
  static bool Pending() {
    sigset_t pending;
    sigemptyset(&pending);
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
  }

  sigset_t pipe_;
  sigset_t saved_;
  bool was_pending_ = false;
};

std::ptrdiff_t PosixWrite(Handle handle, const char* bytes, std::size_t size) {
  const PipeSignalHeld held;
  ssize_t n;
  do {
    n = ::write(Fd(handle), bytes, Chunk(size));
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -LastError() : n;
}

Error PosixRewind(Handle handle) { return Result(::lseek(Fd(handle), 0, SEEK_SET) == 0); }

Error PosixClose(Handle handle) {
  // EINTR: the descriptor is closed all the same on Linux.
  return ::close(Fd(handle)) == 0 || errno == EINTR ? 0 : LastError();
}

Error PosixFlush(Handle handle) {
  int rc;
  do {
    rc = ::fsync(Fd(handle));
  } while (rc != 0 && errno == EINTR);
  // EINVAL: a pipe or a device, which holds nothing to flush.
  return rc == 0 || errno == EINVAL ? 0 : LastError();
}

bool PosixStartWriteback(Handle handle, std::uint64_t offset, std::uint64_t size) {
#if defined(__linux__)
  (void)::sync_file_range(Fd(handle), static_cast<off_t>(offset), static_cast<off_t>(size),
                          SYNC_FILE_RANGE_WRITE);
  return true;
#else
  (void)handle;
  (void)offset;
  (void)size;
  return false;
#endif
}

void PosixReleaseCache(const char* path) {
  // Non-blocking, so that a pipe put in the file's place meanwhile does not
  // hold the conversion up; only a regular file is advised.
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  }
  ::close(fd);
}

// The folder part of `path`, "." for a bare name.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Whether a list of extended attribute names (as listxattr gives it, `size`
// bytes, or -1 for a failed listing) holds one that a replacement would
// lose: any but the security label, which the system gives a new file by
// its own policy. A file system without extended attributes has none; a
// list too long for the buffer has some.
bool LosesAttributes(const char* names, ssize_t size) {
  if (size < 0) return errno == ERANGE;
  for (ssize_t at = 0; at < size;) {
    const std::string name(names + at);
    if (name != "security.selinux") return true;
    at += static_cast<ssize_t>(name.size()) + 1;
  }
  return false;
}

// The extended attributes of the file open as `fd`, through its link in
// /proc (which also serves a descriptor opened only to describe the file),
// or the descriptor itself where there is no /proc.
bool HasExtendedAttributes(int fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char names[4096];
  ssize_t n = ::listxattr(link, names, sizeof names);
  if (n < 0 && errno == ENOENT) n = ::flistxattr(fd, names, sizeof names);
  return LosesAttributes(names, n);
}

FileType TypeOf(mode_t mode) {
  if (S_ISREG(mode)) return FileType::kRegular;
  if (S_ISDIR(mode)) return FileType::kFolder;
  if (S_ISLNK(mode)) return FileType::kLink;
  return FileType::kOther;
}

Error DescribeFd(int fd, FileInfo* info) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return LastError();
  info->type = TypeOf(st.st_mode);
  info->device = static_cast<std::uint64_t>(st.st_dev);
  info->file = static_cast<std::uint64_t>(st.st_ino);
  info->links = static_cast<std::uint32_t>(st.st_nlink);
  info->owner = st.st_uid;
  info->group = st.st_gid;
  info->mode = st.st_mode & 07777;
  info->attributes = 0;
  info->extended = info->type == FileType::kRegular && HasExtendedAttributes(fd);
  return 0;
}

Error PosixDescribe(Handle handle, FileInfo* info) { return DescribeFd(Fd(handle), info); }

Error PosixOpenPath(const char* path, Handle* handle) {
  const int fd = ::open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return LastError();
  *handle = fd;
  return 0;
}

// Whether `path` names the file `info` describes, without following a link.
bool SameFile(const char* path, const FileInfo& info) {
  struct stat now;
  return ::lstat(path, &now) == 0 && static_cast<std::uint64_t>(now.st_dev) == info.device &&
         static_cast<std::uint64_t>(now.st_ino) == info.file;
}

// The path of the regular file that `fd` is open on (described by `info`),
// as the system resolved it, into `name` (PATH_MAX bytes); false when the
// system cannot name it (a file removed meanwhile, no /proc and a path the
// C library cannot resolve). Allocates nothing, so the descriptor cannot
// leak through an exception.
bool FinalPath(int fd, const char* path, const FileInfo& info, char* name) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = ::readlink(link, name, PATH_MAX - 1);
  if (n > 0 && name[0] == '/') {
    name[n] = '\0';
  } else if (::realpath(path, name) == nullptr) {
    return false;
  }
  // A name that no longer leads to the file (" (deleted)", a rename
  // meanwhile) would save elsewhere.
  return SameFile(name, info);
}

// Whether following the link at `path` ends in a link of /proc
// (/proc/<pid>/fd/N, reached as /dev/fd/N or /dev/stdout). Walks the links
// as text, only to look; the system has followed them already.
bool EndsInProcLink(const char* path) {
  constexpr long kProcSuperMagic = 0x9fa0;
  std::string at = path;
  for (int hop = 0; hop < 40; ++hop) {
    const int fd = ::open(at.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    struct statfs fs;
    const bool link = ::fstat(fd, &st) == 0 && S_ISLNK(st.st_mode);
    const bool proc = link && ::fstatfs(fd, &fs) == 0 && fs.f_type == kProcSuperMagic;
    ::close(fd);
    if (!link || proc) return proc;
    char to[PATH_MAX];
    const ssize_t n = ::readlink(at.c_str(), to, sizeof to);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof to)) return false;
    at = to[0] == '/' ? std::string(to, n) : FolderOf(at) + "/" + std::string(to, n);
  }
  return false;
}

// Opens what the link at `path` leads to, as the system follows it. A link
// to nothing yet has the system create the file at its end, as a plain open
// for writing would, to learn where that is (`made`).
int OpenThroughLink(const char* path, bool* made) {
  int fd = ::open(path, O_PATH | O_CLOEXEC);
  *made = false;
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(path, O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    *made = fd >= 0;
  }
  return fd;
}

// Follows the link at `path`. The empty file made at a link to nothing is
// removed again at once, only if it is still empty and still the one at
// that name: POSIX cannot create through a link exclusively, so a file
// another program made in the same instant is told apart by its content.
// Only a regular file needs its own path.
Error ResolveLink(const char* path, Resolved* resolved) {
  bool made;
  const int fd = OpenThroughLink(path, &made);
  if (fd < 0) return LastError();
  const Error error = DescribeFd(fd, &resolved->info);
  if (error != 0 || resolved->info.type != FileType::kRegular) {
    ::close(fd);
    resolved->found = error == 0;
    return error;
  }
  struct stat st;
  made = made && ::fstat(fd, &st) == 0 && st.st_size == 0;
  char name[PATH_MAX];
  resolved->named = FinalPath(fd, path, resolved->info, name);
  ::close(fd);
  if (made && resolved->named) ::unlink(name);
  resolved->found = !made;
  if (resolved->named && !made && EndsInProcLink(path)) {
    resolved->held_open = true;
  } else if (resolved->named) {
    resolved->path = name;
  }
  return 0;
}

Error PosixResolve(const char* path, Resolved* resolved) {
  *resolved = Resolved();
  resolved->path = path;
  const int fd = ::open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  // Nothing there yet: a new file (a missing folder fails when the
  // temporary file cannot be created beside it).
  if (fd < 0) return errno == ENOENT ? 0 : LastError();
  const Error error = DescribeFd(fd, &resolved->info);
  ::close(fd);
  if (error != 0) return error;
  if (resolved->info.type == FileType::kLink) return ResolveLink(path, resolved);
  resolved->found = true;
  return 0;
}

Error PosixCheckAccess(const char* path, Access access) {
  if (access == Access::kWrite) return Result(::access(path, W_OK) == 0);
  return Result(::faccessat(AT_FDCWD, path, W_OK | X_OK, AT_EACCESS) == 0);
}

// 32 unpredictable bits from the system; a mix of clock, process and counter
// only where the system has none to give (O_EXCL still keeps the file ours).
unsigned RandomTag() {
  unsigned tag;
  if (::getrandom(&tag, sizeof tag, 0) == static_cast<ssize_t>(sizeof tag)) return tag;
  static std::atomic<unsigned> counter{0};
  struct timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<unsigned>(now.tv_nsec) ^ static_cast<unsigned>(::getpid()) * 2654435761u ^
         counter.fetch_add(0x9E3779B9u);
}

// `prefix` + ".~XXXXXXXX.tmp" with eight random hexadecimal digits.
std::string TempName(const std::string& prefix) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string name = prefix;
  name += ".~";
  for (unsigned tag = RandomTag(), k = 0; k < 8; ++k, tag >>= 4) name += kHex[tag & 0xF];
  name += ".tmp";
  return name;
}

// Creates a file exclusively under a fresh random name for each attempt,
// telling `naming` (if any) of each name before it is tried.
Error CreateExclusive(const std::string& prefix, mode_t mode, const TempNaming* naming, int* fd,
                      std::string* name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = TempName(prefix);
    if (naming != nullptr) naming->tell(naming->context, candidate, true);
    const int opened = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (opened >= 0) {
      *fd = opened;
      *name = std::move(candidate);
      return 0;
    }
    const Error error = LastError();
    if (naming != nullptr) naming->tell(naming->context, candidate, false);
    if (error != EEXIST && error != EINTR) return error;
  }
  return EEXIST;
}

Error PosixCreateTemp(const char* prefix, bool owner_only, const TempNaming* naming, Handle* handle,
                      std::string* name) {
  int fd;
  const Error error = CreateExclusive(prefix, owner_only ? 0600 : 0666, naming, &fd, name);
  if (error == 0) *handle = fd;
  return error;
}

Error PosixOpenSpool(Handle* handle) {
  const char* tmpdir = ::getenv("TMPDIR");
  const std::string folder = tmpdir != nullptr && tmpdir[0] != '\0' ? tmpdir : "/tmp";
#ifdef O_TMPFILE
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#else
  int fd = -1;
#endif
  if (fd < 0) {
    // No unnamed files on this file system: a named one, unlinked at once.
    std::string name;
    if (const Error error = CreateExclusive(folder + "/quorvel", 0600, nullptr, &fd, &name))
      return error;
    ::unlink(name.c_str());
  }
  *handle = fd;
  return 0;
}

Error PosixSetOwner(Handle handle, std::uint32_t owner, std::uint32_t group) {
  return Result(::fchown(Fd(handle), owner, group) == 0);
}

Error PosixSetAttributes(Handle handle, const FileInfo& from) {
  return Result(::fchmod(Fd(handle), static_cast<mode_t>(from.mode & 07777)) == 0);
}

Error PosixReplace(const char* temp_path, const char* target_path, bool* stranded) {
  // One step: the target is either the old file or the new one.
  *stranded = false;
  return Result(::rename(temp_path, target_path) == 0);
}

Error PosixSyncFolder(const char* folder) {
  const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return LastError();
  const Error error = PosixFlush(fd);
  ::close(fd);
  return error;
}

Error PosixRemove(const char* path) { return Result(::unlink(path) == 0); }

// Takes a write lock on the whole file, so that two saves rewriting it in
// place never interleave their bytes. A lock held by another program is
// waited for a few moments (0.3 s in all), then the file counts as held
// open elsewhere; where the file system has no locks, the save goes ahead.
Error LockForWriting(int fd) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  long wait_ms = 10;
  for (int attempt = 0;; ++attempt, wait_ms *= 2) {
    if (::fcntl(fd, F_SETLK, &lock) == 0) return 0;
    const Error error = errno;
    if (error != EACCES && error != EAGAIN && error != EINTR) return 0;
    if (attempt == 5) return error;
    const struct timespec pause = {0, wait_ms * 1000000};
    ::nanosleep(&pause, nullptr);
  }
}

bool IsRegular(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Whether `fd` is open on the file `info` describes.
bool IsFile(int fd, const FileInfo& info) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && static_cast<std::uint64_t>(st.st_dev) == info.device &&
         static_cast<std::uint64_t>(st.st_ino) == info.file;
}

// Opens `path` for writing without waiting for a reader of a FIFO (one with
// none fails with ENXIO), then lets later writes wait as usual.
int OpenWithoutWaiting(const char* path, int flags) {
  int fd;
  do {
    fd = ::open(path, flags | O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0 && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

// Opens for writing the file that `path` leads to only if it is `expected`:
// -1 with `*other` set when it is another. Where the system can, the file is
// first looked at without being opened (O_PATH) and then reopened through
// its link in /proc, which is that very file whatever the path leads to by
// then; only the expected FIFO is then waited for. Elsewhere it is opened
// without waiting and looked at after.
int OpenExpected(const char* path, const FileInfo& expected, bool* other) {
#if defined(__linux__) && defined(O_PATH)
  const int probe = ::open(path, O_PATH | O_CLOEXEC);
  if (probe < 0) return -1;
  if (!IsFile(probe, expected)) {
    ::close(probe);
    *other = true;
    return -1;
  }
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", probe);
  int fd;
  do {
    fd = ::open(link, O_WRONLY | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  const int error = errno;
  ::close(probe);
  errno = error;
  // No /proc: opened by name as elsewhere.
  if (fd >= 0 || error != ENOENT) return fd;
#endif
  const int fd_by_name = OpenWithoutWaiting(path, 0);
  if (fd_by_name >= 0 && !IsFile(fd_by_name, expected)) {
    ::close(fd_by_name);
    *other = true;
    return -1;
  }
  return fd_by_name;
}

Error PosixOpenInPlace(const char* path, const FileInfo* expected, Handle* handle) {
  *handle = kNoHandle;
  bool other = false;
  const int fd = expected != nullptr ? OpenExpected(path, *expected, &other)
                                     : OpenWithoutWaiting(path, O_CREAT);
  if (other) return 0;
  if (fd < 0) return LastError();
  if (IsRegular(fd)) {
    if (const Error error = LockForWriting(fd)) {
      ::close(fd);
      return error;
    }
  }
  *handle = fd;
  return 0;
}

Error PosixReserve(Handle handle, std::uint64_t size) {
  if (size == 0 || !IsRegular(Fd(handle))) return 0;
  if (size > static_cast<std::uint64_t>(INT64_MAX)) return EFBIG;
  // The room is allocated, the length stays: until the first write the file
  // is exactly as it was.
  int rc;
  do {
    rc = ::fallocate(Fd(handle), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size));
  } while (rc != 0 && errno == EINTR);
  // A file system that cannot reserve (some network and FUSE ones) is
  // written without; one that reports no room keeps the file whole.
  return rc == 0 || errno == EOPNOTSUPP || errno == ENOSYS ? 0 : LastError();
}

Error PosixSetLength(Handle handle, std::uint64_t size) {
  if (!IsRegular(Fd(handle))) return 0;
  if (size > static_cast<std::uint64_t>(INT64_MAX)) return EFBIG;
  int rc;
  do {
    rc = ::ftruncate(Fd(handle), static_cast<off_t>(size));
  } while (rc != 0 && errno == EINTR);
  return Result(rc == 0);
}

// Puts the thread's signal mask back however the job ends.
class MaskRestorer {
 public:
  explicit MaskRestorer(const sigset_t& saved) : saved_(saved) {}
  ~MaskRestorer() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  MaskRestorer(const MaskRestorer&) = delete;
  MaskRestorer& operator=(const MaskRestorer&) = delete;

 private:
  sigset_t saved_;
};

void PosixWithSignalsBlocked(void (*job)(void*), void* context) {
  sigset_t all;
  sigset_t saved;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &saved);
  const MaskRestorer restore(saved);
  job(context);
}

// No system call goes through a table here: every failure the POSIX tests
// need can be caused for real or at the level of the platform table.
SystemCall PosixSystemCall(const char*, SystemCall) { return nullptr; }

LocalDate PosixLocalDate() {
  const time_t now = ::time(nullptr);
  struct tm local;
  ::localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

constexpr Api kNative = {
    .separators = "/",
    .open_for_read = PosixOpenForRead,
    .read = PosixRead,
    .rewind = PosixRewind,
    .write = PosixWrite,
    .close = PosixClose,
    .flush = PosixFlush,
    .start_writeback = PosixStartWriteback,
    .release_cache = PosixReleaseCache,
    .resolve = PosixResolve,
    .open_path = PosixOpenPath,
    .describe = PosixDescribe,
    .check_access = PosixCheckAccess,
    .create_temp = PosixCreateTemp,
    .open_spool = PosixOpenSpool,
    .set_owner = PosixSetOwner,
    .set_attributes = PosixSetAttributes,
    .replace = PosixReplace,
    .sync_folder = PosixSyncFolder,
    .remove = PosixRemove,
    .open_in_place = PosixOpenInPlace,
    .reserve = PosixReserve,
    .set_length = PosixSetLength,
    .with_signals_blocked = PosixWithSignalsBlocked,
    .local_date = PosixLocalDate,
    .system_call = PosixSystemCall,
};

}  // namespace

const Api& Native() { return kNative; }

void Monitor::Lock() { mutex_.lock(); }
void Monitor::Unlock() { mutex_.unlock(); }
void Monitor::Wait() {
  std::unique_lock<std::mutex> held(mutex_, std::adopt_lock);
  condition_.wait(held);
  (void)held.release();  // the caller still holds it
}
void Monitor::NotifyAll() { condition_.notify_all(); }

}  // namespace quorvel::platform
