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

void Unlink(const char* path) { unlink(path); }

// Removes the temporary files, then lets the signal end the program as it
// would have (its status tells the parent which signal it was). Only
// async-signal-safe calls.
extern "C" void OnEndingSignal(int number) {
  const int saved = errno;
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

// The path that opens the file open as `descriptor` itself, whatever names
// it has or has not: its link in /proc where that is mounted.
std::string DescriptorPath(int descriptor) {
  const std::string proc = "/proc/self/fd/" + std::to_string(descriptor);
  struct stat status;
  return lstat(proc.c_str(), &status) == 0 ? proc : "/dev/fd/" + std::to_string(descriptor);
}

}  // namespace

std::FILE* CreatePrivateFile(std::string* path, std::string* why) {
  const char* tmpdir = std::getenv("TMPDIR");
  const std::string folder = tmpdir != nullptr && tmpdir[0] != '\0' ? tmpdir : "/tmp";
  int descriptor;
  {
    const EndingSignalsBlocked blocked;
    descriptor = CreateNamelessFile(folder);
  }
  std::FILE* file = descriptor >= 0 ? fdopen(descriptor, "w+b") : nullptr;
  if (file == nullptr) {
    *why = "cannot create a temporary file in " + folder + ": " + ErrorText(errno);
    if (descriptor >= 0) close(descriptor);
    return nullptr;
  }
  *path = DescriptorPath(descriptor);
  return file;
}

std::FILE* OpenPrivateFile(std::FILE** file, const std::string&, const char* mode) {
  const int descriptor = fcntl(fileno(*file), F_DUPFD_CLOEXEC, 0);
  if (descriptor < 0) return nullptr;
  // The duplicate shares the file's offset: from the first byte.
  std::FILE* stream = lseek(descriptor, 0, SEEK_SET) == 0 ? fdopen(descriptor, mode) : nullptr;
  if (stream == nullptr) close(descriptor);
  return stream;
}

void ReleasePrivateFile(std::FILE**) {}

bool RemoveFile(const std::string&) { return true; }

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
