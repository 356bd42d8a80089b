// POSIX implementation of the platform layer.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

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

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1);
}

// Follows a chain of symbolic links to the path that finally names a file (or
// nothing yet). Relative link texts are taken from the link's own folder.
std::string FollowLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char link[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), link, sizeof link);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof link) return path;
    std::string next(link, static_cast<std::size_t>(n));
    path = next[0] == '/' ? next : DirectoryOf(path) + next;
  }
  return path;
}

Target PosixInspectTarget(const char* path) {
  Target target;
  struct stat st;
  if (::stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
    target.kind = TargetKind::kDevice;
    target.path = path;
    return target;
  }
  target.kind = TargetKind::kFile;
  target.path = FollowLinks(path);
  return target;
}

std::atomic<unsigned> temp_counter{0};

bool PosixCreateTemp(const char* target_path, Handle* handle, std::string* temp_path) {
  struct stat st;
  const bool exists = ::stat(target_path, &st) == 0;
  // A new file gets what open() would give it (0666 less the umask); a
  // replacement keeps the permission bits of the file it replaces.
  const mode_t mode = exists ? (st.st_mode & 07777) : 0666;
  static constexpr char kHex[] = "0123456789abcdef";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned tag = static_cast<unsigned>(::getpid()) * 2654435761u + temp_counter.fetch_add(1);
    std::string name = target_path;
    name += ".~";
    for (int k = 0; k < 8; ++k, tag >>= 4) name += kHex[tag & 0xF];
    name += ".tmp";
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
      if (errno == EEXIST || errno == EINTR) continue;
      return false;
    }
    if (exists) {
      (void)::fchmod(fd, mode);
      (void)::fchown(fd, st.st_uid, st.st_gid);  // succeeds only where allowed
    }
    *handle = fd;
    *temp_path = std::move(name);
    return true;
  }
  return false;
}

bool PosixReplace(const char* temp_path, const char* target_path) {
  // A read-only target cannot be replaced, as it could not be rewritten.
  if (::access(target_path, F_OK) == 0 && ::access(target_path, W_OK) != 0) return false;
  return ::rename(temp_path, target_path) == 0;
}

void PosixRemove(const char* path) { (void)::unlink(path); }

bool PosixOpenInPlace(const char* path, Handle* handle) {
  int fd;
  do {
    fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  *handle = fd;
  return true;
}

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
    .inspect_target = PosixInspectTarget,
    .create_temp = PosixCreateTemp,
    .replace = PosixReplace,
    .remove = PosixRemove,
    .open_in_place = PosixOpenInPlace,
    .local_date = PosixLocalDate,
};

}  // namespace

const Api& Native() { return kNative; }

}  // namespace quorvel::platform
