#include <fcntl.h>
#include <langinfo.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include "present/report.h"
#include "system/system.h"
#include "system/temporaries.h"

namespace quorvel::cli {
namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGHUP, SIGTERM};

// A name on the list is a file, or the private folder that held one.
void Unlink(const char* path) {
  if (unlink(path) != 0) rmdir(path);
}

// Removes the temporary files, then lets the signal end the program as it
// would have (its status tells the parent which signal it was). Only
// async-signal-safe calls.
extern "C" void OnEndingSignal(int number) {
  const int saved = errno;
  // Twice: a private folder goes once the file in it has.
  RemoveTemporaries(Unlink);
  RemoveTemporaries(Unlink);
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigaction(number, &action, nullptr);
  raise(number);  // delivered when the handler returns, the signal then unblocked
  errno = saved;
}

// Blocks the ending signals while a temporary file is made and its name
// removed, so that none comes between the two; restores the mask when it
// goes.
class EndingSignalsBlocked {
 public:
  EndingSignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (const int number : kEndingSignals) sigaddset(&set, number);
    sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  ~EndingSignalsBlocked() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  EndingSignalsBlocked(const EndingSignalsBlocked&) = delete;
  EndingSignalsBlocked& operator=(const EndingSignalsBlocked&) = delete;

 private:
  sigset_t saved_;
};

}  // namespace

bool CommandLineArguments(int argc, char** argv, std::vector<std::string>* arguments,
                          std::string*) {
  for (int i = 1; i < argc; ++i) arguments->emplace_back(argv[i]);
  return true;
}

Charset ArgumentCharset() {
  static const Charset charset = [] {
    // Only the character type: messages and numbers stay as they are.
    std::setlocale(LC_CTYPE, "");
    const std::string_view codeset = nl_langinfo(CODESET);
    return codeset == "UTF-8" || codeset == "utf8" ? Charset::kUtf8 : Charset::kGbk;
  }();
  return charset;
}

std::string SystemErrorText(int error) { return ErrorText(error); }

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

bool NativePath(std::string_view argument, std::string* path, std::string*) {
  path->assign(argument);
  return true;
}

namespace {

// A file in `folder` that has no name: made so where the file system can,
// otherwise made exclusively (mode 0600) and its name removed at once. The
// caller holds the ending signals off, so that no handler runs between the
// two; only SIGKILL in that moment, where there is no O_TMPFILE, can leave
// the name behind. -1, with errno set, when neither can be made.
int CreateNamelessFile(const std::string& folder) {
  const int descriptor = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (descriptor >= 0) return descriptor;
  std::string name = folder + "/quorvel-XXXXXX";
  const int named = mkostemp(name.data(), O_CLOEXEC);
  if (named >= 0) unlink(name.c_str());
  return named;
}

// Where the system names open files so that a name opens the file itself
// ("/proc/self/fd/", or "/dev/fd/" where that is no link into /proc), or
// empty where it does not: a chroot or a container without /proc.
const std::string& DescriptorFolder() {
  static const std::string folder = [] {
    struct stat status;
    if (stat("/proc/self/fd", &status) == 0 && S_ISDIR(status.st_mode)) return "/proc/self/fd/";
    return stat("/dev/fd", &status) == 0 && S_ISDIR(status.st_mode) ? "/dev/fd/" : "";
  }();
  return folder;
}

bool DescriptorPathsWork() { return !DescriptorFolder().empty(); }

bool IsDescriptorPath(const std::string& path) {
  return DescriptorPathsWork() && path.starts_with(DescriptorFolder());
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

std::string TemporaryFolder() {
  const char* tmpdir = std::getenv("TMPDIR");
  return tmpdir != nullptr && tmpdir[0] != '\0' ? tmpdir : "/tmp";
}

// Without descriptor paths the file needs a name: it gets one inside a
// folder made for it alone (mkdtemp, mode 0700), where no other user can
// put or swap a name. Both are on the list an interruption removes; a kill
// leaves them. -1, with errno set, when they cannot be made.
int CreateFileInPrivateFolder(const std::string& folder, std::string* path) {
  std::string own = folder + "/quorvel-XXXXXX";
  if (mkdtemp(own.data()) == nullptr) return -1;
  RememberTemporary(own);
  *path = own + "/f";
  const int descriptor =
      open(path->c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (descriptor < 0) {
    const int error = errno;
    rmdir(own.c_str());
    ForgetTemporary(own);
    errno = error;
    return -1;
  }
  RememberTemporary(*path);
  return descriptor;
}

}  // namespace

std::FILE* CreatePrivateFile(std::string* path, std::string* why) {
  const std::string folder = TemporaryFolder();
  const bool nameless = DescriptorPathsWork();
  int descriptor;
  {
    const EndingSignalsBlocked blocked;
    descriptor = nameless ? CreateNamelessFile(folder) : CreateFileInPrivateFolder(folder, path);
  }
  std::FILE* file = descriptor >= 0 ? fdopen(descriptor, "w+b") : nullptr;
  if (file == nullptr) {
    *why = "cannot create a temporary file in " + folder + ": " + ErrorText(errno);
    if (descriptor >= 0) close(descriptor);
    if (!nameless && descriptor >= 0) RemoveFile(*path);
    return nullptr;
  }
  if (nameless) *path = DescriptorFolder() + std::to_string(descriptor);
  return file;
}

std::FILE* OpenPrivateFile(std::FILE** file, const std::string& path, const char* mode) {
  // A named file is read by its name, in its private folder: the library
  // may have put a new file in its place.
  if (!IsDescriptorPath(path) && mode[0] == 'r') return std::fopen(path.c_str(), "rb");
  const int descriptor = fcntl(fileno(*file), F_DUPFD_CLOEXEC, 0);
  if (descriptor < 0) return nullptr;
  // The duplicate shares the file's offset: from the first byte.
  std::FILE* stream = lseek(descriptor, 0, SEEK_SET) == 0 ? fdopen(descriptor, mode) : nullptr;
  if (stream == nullptr) close(descriptor);
  return stream;
}

void ReleasePrivateFile(std::FILE**) {}

bool RemoveFile(const std::string& path) {
  if (IsDescriptorPath(path)) return true;
  if (unlink(path.c_str()) != 0 && errno != ENOENT) return false;
  ForgetTemporary(path);
  const std::string folder = FolderOf(path);
  if (rmdir(folder.c_str()) == 0 || errno == ENOENT) ForgetTemporary(folder);
  return true;
}

std::string StandardOutputPath() {
  // A pipe, a terminal or another device: what the library writes through
  // this path goes where this program's own writes would. Not a regular
  // file, which it would write from its first byte (not at the shell's
  // offset, nor appending); not a socket, which cannot be opened again.
  struct stat status;
  if (!DescriptorPathsWork() || fstat(STDOUT_FILENO, &status) != 0) return {};
  // Opened again by its path, a stream open for reading only would be
  // written (PrepareProcess puts one in place of a closed standard output).
  if ((fcntl(STDOUT_FILENO, F_GETFL) & O_ACCMODE) == O_RDONLY) return {};
  if (!S_ISFIFO(status.st_mode) && !S_ISCHR(status.st_mode)) return {};
  return DescriptorFolder() + std::to_string(STDOUT_FILENO);
}

std::string DiscardPath() {
  struct stat status;
  return stat("/dev/null", &status) == 0 && S_ISCHR(status.st_mode) &&
                 access("/dev/null", W_OK) == 0
             ? "/dev/null"
             : std::string();
}

std::FILE* OpenBinaryFile(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

bool IsRegularFile(std::FILE* file) {
  struct stat status;
  return fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode);
}

void DeferEnding(bool deferred) {
  // The ending signals are blocked meanwhile; one that came is delivered as
  // soon as they are unblocked, and its handler then runs as usual.
  static sigset_t saved;
  if (deferred) {
    sigset_t set;
    sigemptyset(&set);
    for (const int number : kEndingSignals) sigaddset(&set, number);
    sigprocmask(SIG_BLOCK, &set, &saved);
  } else {
    sigprocmask(SIG_SETMASK, &saved, nullptr);
  }
}

void PrepareProcess() {
  // A standard stream that was closed gets a stand-in that fails every use
  // (/dev/null opened the other way): otherwise the next file this program
  // opens would take its number, and output meant for standard output
  // would go there, the failure unseen.
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) == -1 && errno == EBADF) {
      open("/dev/null", descriptor == 0 ? O_WRONLY : O_RDONLY);
    }
  }
  signal(SIGPIPE, SIG_IGN);
  for (const int number : kEndingSignals) {
    // A signal ignored from the start stays ignored (a job started in the
    // background ignores SIGINT, nohup SIGHUP).
    struct sigaction action {};
    if (sigaction(number, nullptr, &action) != 0 || action.sa_handler == SIG_IGN) continue;
    action = {};
    action.sa_handler = OnEndingSignal;
    sigemptyset(&action.sa_mask);
    for (const int other : kEndingSignals) sigaddset(&action.sa_mask, other);
    sigaction(number, &action, nullptr);
  }
}

}  // namespace quorvel::cli
