#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "report.h"
#include "system.h"

namespace quorvel::cli {

bool CommandLineArguments(int argc, char** argv, std::vector<std::string>* arguments,
                          std::string*) {
  for (int i = 1; i < argc; ++i) arguments->emplace_back(argv[i]);
  return true;
}

bool LoadLibraryExports(Library* library, std::string*) {
  library->get_last_error = Quorvel_GetLastError;
  library->txt2xml = Quorvel_TXT2XML;
  library->xml2txt = Quorvel_XML2TXT;
  library->version = QUORVEL_VERSION;
  return true;
}

bool UnicodeArguments() { return false; }

bool NativePath(std::string_view argument, std::string* path, std::string*) {
  path->assign(argument);
  return true;
}

bool CreatePrivateFile(std::string* path, std::string* why) {
  const char* folder = std::getenv("TMPDIR");
  std::string name = folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
  name += "/quorvel-XXXXXX";
  const int descriptor = mkstemp(name.data());  // mode 0600, created exclusively
  if (descriptor < 0) {
    *why = "cannot create a temporary file in " + name.substr(0, name.size() - 15) + ": " +
           ErrorText(errno);
    return false;
  }
  close(descriptor);
  *path = name;
  return true;
}

void RemoveFile(const std::string& path) { unlink(path.c_str()); }

bool IsRegularFile(std::FILE* file) {
  struct stat status;
  return fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode);
}

void SetBinaryStandardStreams() {}

}  // namespace quorvel::cli
