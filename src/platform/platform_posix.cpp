// POSIX implementation of the platform layer.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
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

#include "platform/platform.h"

namespace quorvel::platform {
namespace {

int Fd(Handle handle) { return static_cast<int>(handle); }

bool PosixOpenForRead(const char* path, Handle* handle, InputInfo* info) {
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  struct stat st;
  // POSIX opens folders for reading; the load must refuse them.
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return false;
  }
  info->sized = S_ISREG(st.st_mode);
  info->size = info->sized ? static_cast<std::uint64_t>(st.st_size) : 0;
  *handle = fd;
  return true;
}

std::ptrdiff_t PosixRead(Handle handle, char* buffer, std::size_t size) {
  // One call moves at most 1 GiB: some kernels refuse larger counts.
  const std::size_t chunk = size < (std::size_t{1} << 30) ? size : (std::size_t{1} << 30);
  ssize_t n;
  do {
    n = ::read(Fd(handle), buffer, chunk);
  } while (n < 0 && errno == EINTR);
  return n;
}

std::ptrdiff_t PosixWrite(Handle handle, const char* bytes, std::size_t size) {
  const std::size_t chunk = size < (std::size_t{1} << 30) ? size : (std::size_t{1} << 30);
  ssize_t n;
  do {
    n = ::write(Fd(handle), bytes, chunk);
  } while (n < 0 && errno == EINTR);
  return n;
}

bool PosixRewind(Handle handle) { return ::lseek(Fd(handle), 0, SEEK_SET) == 0; }

bool PosixClose(Handle handle) { return ::close(Fd(handle)) == 0 || errno == EINTR; }

bool PosixFlush(Handle handle) {
  int rc;
  do {
    rc = ::fsync(Fd(handle));
  } while (rc != 0 && errno == EINTR);
  // EINVAL: a pipe or a device, which holds nothing to flush.
  return rc == 0 || errno == EINVAL;
}

void PosixStartWriteback(Handle handle, std::uint64_t offset, std::uint64_t size) {
#if defined(__linux__)
  (void)::sync_file_range(Fd(handle), static_cast<off_t>(offset), static_cast<off_t>(size),
                          SYNC_FILE_RANGE_WRITE);
#else
  (void)handle;
  (void)offset;
  (void)size;
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

// Creates a file exclusively under a fresh random name for each attempt;
// false on any failure but a name already taken.
bool CreateExclusive(const std::string& prefix, mode_t mode, int* fd, std::string* name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = TempName(prefix);
    const int opened = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (opened >= 0) {
      *fd = opened;
      *name = std::move(candidate);
      return true;
    }
    if (errno != EEXIST && errno != EINTR) return false;
  }
  return false;
}

bool PosixCreateTemp(const char* target_path, Handle* handle, std::string* temp_path) {
  struct stat st;
  // While it replaces an existing file, only its owner may read it; it
  // takes the target's permissions just before it takes its place.
  const mode_t mode = ::stat(target_path, &st) == 0 ? 0600 : 0666;
  int fd;
  std::string name;
  bool made = CreateExclusive(target_path, mode, &fd, &name);
  // A name of 242 bytes and more leaves no room for the suffix: a short name
  // in the same folder serves as well.
  if (!made && errno == ENAMETOOLONG) {
    const std::string folder = FolderOf(target_path);
    made = CreateExclusive(folder == "/" ? "/" : folder + "/", mode, &fd, &name);
  }
  if (!made) return false;
  *handle = fd;
  *temp_path = std::move(name);
  return true;
}

bool PosixOpenSpool(Handle* handle) {
  const char* tmpdir = ::getenv("TMPDIR");
  const std::string folder = tmpdir != nullptr && tmpdir[0] != '\0' ? tmpdir : "/tmp";
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    // No unnamed files on this file system: a named one, unlinked at once.
    std::string name;
    if (!CreateExclusive(folder + "/quorvel", 0600, &fd, &name)) return false;
    ::unlink(name.c_str());
  }
  *handle = fd;
  return true;
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

bool HasExtendedAttributes(const std::string& path) {
  char names[4096];
  return LosesAttributes(names, ::llistxattr(path.c_str(), names, sizeof names));
}

// Whether `path` and `st` name one file.
bool SameFile(const char* path, const struct stat& st) {
  struct stat now;
  return ::lstat(path, &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino;
}

// The path of the regular file that `fd` is open on (its status `st`), as
// the system resolved it, into `name` (PATH_MAX bytes); false when the
// system cannot name it (a file removed meanwhile, no /proc and a path the
// C library cannot resolve). Allocates nothing, so the descriptor cannot
// leak through an exception.
bool FinalPath(int fd, const char* path, const struct stat& st, char* name) {
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
  return SameFile(name, st);
}

// Whether following the link at `path` ends in a link of /proc
// (/proc/<pid>/fd/N, reached as /dev/fd/N or /dev/stdout): the file it names
// is one a process holds open, a shell's redirection for example, which a
// replacement would take away from under it. Walks the links as text, only
// to look; the system has followed them already.
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

// Sorts what the system shows at a path: `st` is its status, `target->path`
// the file's own path where it is a regular file.
void Classify(const struct stat& st, const char* path, Target* target) {
  if (S_ISDIR(st.st_mode)) {
    target->kind = TargetKind::kFolder;
    target->path = path;
  } else if (!S_ISREG(st.st_mode)) {
    target->kind = TargetKind::kStream;  // a device, a pipe, a socket
    target->path = path;
  } else {
    target->exists = true;
    if (st.st_nlink > 1 || HasExtendedAttributes(target->path) ||
        ::faccessat(AT_FDCWD, FolderOf(target->path).c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
      target->kind = TargetKind::kInPlace;
    }
  }
}

// Follows the link at `path` as the system does, loops, permissions and
// fs.protected_symlinks included. A link to nothing yet has the system
// create the file at its end, as a plain open for writing would, to learn
// where that is; the empty file is removed again at once (only if it is
// still empty and still the one at that name: POSIX cannot create through a
// link exclusively, so a file another program made in the same instant is
// told apart by its content). Only a regular file needs its own path; where
// the system cannot name it, the link is written through in place.
Target InspectLink(const char* path) {
  Target target;
  target.path = path;
  int fd = ::open(path, O_PATH | O_CLOEXEC);
  bool made = false;
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(path, O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    made = fd >= 0;
  }
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    if (fd >= 0) ::close(fd);
    target.kind = TargetKind::kRefused;
    return target;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    Classify(st, path, &target);
    return target;
  }
  made = made && st.st_size == 0;
  char resolved[PATH_MAX];
  const bool named = FinalPath(fd, path, st, resolved);
  ::close(fd);
  if (made && named) {
    ::unlink(resolved);
    target.path = resolved;
    return target;
  }
  if (made) {
    // Nowhere to remove it from: the save writes it through the link.
    target.kind = TargetKind::kInPlace;
    return target;
  }
  if (!named || EndsInProcLink(path)) {
    target.kind = TargetKind::kInPlace;
    target.exists = true;
    return target;
  }
  target.path = resolved;
  Classify(st, path, &target);
  return target;
}

Target PosixInspectTarget(const char* path) {
  Target target;
  target.path = path;
  struct stat st;
  if (::lstat(path, &st) != 0) {
    // Nothing there yet: a new file (a missing folder fails when the
    // temporary file cannot be created beside it).
    if (errno != ENOENT) target.kind = TargetKind::kRefused;
    return target;
  }
  if (S_ISLNK(st.st_mode)) return InspectLink(path);
  Classify(st, path, &target);
  return target;
}

bool PosixTakeOver(Handle temp, const char*, const char* target_path) {
  struct stat target;
  if (::stat(target_path, &target) != 0) return errno == ENOENT;
  // A second name or extended attributes gained since the save chose to
  // replace the file (long before, for a large output) would be lost.
  if (target.st_nlink > 1 || HasExtendedAttributes(target_path)) return false;
  // The owner first: a change of owner clears setuid and setgid, which the
  // mode then restores (the system drops setgid silently where the caller
  // may not have it, so the result is checked).
  const int fd = Fd(temp);
  const mode_t mode = target.st_mode & 07777;
  struct stat got;
  if (::fchown(fd, target.st_uid, target.st_gid) != 0 || ::fchmod(fd, mode) != 0 ||
      ::fstat(fd, &got) != 0) {
    return false;
  }
  if (got.st_uid != target.st_uid || got.st_gid != target.st_gid || (got.st_mode & 07777) != mode) {
    return false;
  }
  // An access list inherited from the folder would widen or narrow access.
  char names[4096];
  return !LosesAttributes(names, ::flistxattr(fd, names, sizeof names));
}

Replaced PosixReplace(const char* temp_path, const char* target_path) {
  // A read-only target cannot be replaced, as it could not be rewritten.
  if (::access(target_path, F_OK) == 0 && ::access(target_path, W_OK) != 0) {
    return Replaced::kRefused;
  }
  // One step: the target is either the old file or the new one.
  return ::rename(temp_path, target_path) == 0 ? Replaced::kYes : Replaced::kRefused;
}

bool PosixSyncFolder(const char* target_path) {
  const int fd = ::open(FolderOf(target_path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = PosixFlush(fd);
  ::close(fd);
  return synced;
}

void PosixRemove(const char* path) { (void)::unlink(path); }

// Takes a write lock on the whole file, so that two saves rewriting it in
// place never interleave their bytes. A lock held by another program is
// waited for a few moments (0.3 s in all), then the file counts as held
// open elsewhere; where the file system has no locks, the save goes ahead.
bool LockForWriting(int fd) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  long wait_ms = 10;
  for (int attempt = 0;; ++attempt, wait_ms *= 2) {
    if (::fcntl(fd, F_SETLK, &lock) == 0) return true;
    if (errno != EACCES && errno != EAGAIN && errno != EINTR) return true;
    if (attempt == 5) return false;
    const struct timespec pause = {0, wait_ms * 1000000};
    ::nanosleep(&pause, nullptr);
  }
}

bool PosixOpenInPlace(const char* path, Handle* handle) {
  int fd;
  do {
    fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  struct stat st;
  const bool file = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (file && !LockForWriting(fd)) {
    ::close(fd);
    return false;
  }
  *handle = fd;
  return true;
}

bool IsRegular(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool PosixReserve(Handle handle, std::uint64_t size) {
  if (size == 0 || !IsRegular(Fd(handle))) return true;
  if (size > static_cast<std::uint64_t>(INT64_MAX)) return false;
  // The room is allocated, the length stays: until the first write the file
  // is exactly as it was.
  int rc;
  do {
    rc = ::fallocate(Fd(handle), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size));
  } while (rc != 0 && errno == EINTR);
  // A file system that cannot reserve (some network and FUSE ones) is
  // written without; one that reports no room keeps the file whole.
  return rc == 0 || errno == EOPNOTSUPP || errno == ENOSYS;
}

bool PosixSetLength(Handle handle, std::uint64_t size) {
  if (!IsRegular(Fd(handle))) return true;
  if (size > static_cast<std::uint64_t>(INT64_MAX)) return false;
  int rc;
  do {
    rc = ::ftruncate(Fd(handle), static_cast<off_t>(size));
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
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
    .open_for_read = PosixOpenForRead,
    .read = PosixRead,
    .rewind = PosixRewind,
    .write = PosixWrite,
    .close = PosixClose,
    .flush = PosixFlush,
    .start_writeback = PosixStartWriteback,
    .release_cache = PosixReleaseCache,
    .inspect_target = PosixInspectTarget,
    .create_temp = PosixCreateTemp,
    .open_spool = PosixOpenSpool,
    .take_over = PosixTakeOver,
    .replace = PosixReplace,
    .sync_folder = PosixSyncFolder,
    .remove = PosixRemove,
    .open_in_place = PosixOpenInPlace,
    .reserve = PosixReserve,
    .set_length = PosixSetLength,
    .local_date = PosixLocalDate,
    .system_call = PosixSystemCall,
};

}  // namespace

const Api& Native() { return kNative; }

}  // namespace quorvel::platform
