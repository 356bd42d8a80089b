// The Windows side: the command line read as UTF-16 (GetCommandLineW), file
// names in the ANSI code page.
#define _CRT_RAND_S
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "charset/charset.h"
#include "present/report.h"
#include "system/system.h"
#include "system/temporaries.h"

namespace quorvel::cli {
namespace {

// UTF-16 as UTF-8; false for a lone surrogate.
bool WideToUtf8(const wchar_t* wide, std::string* out) {
  const int count =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, nullptr, 0, nullptr, nullptr);
  if (count <= 0) return false;
  out->resize(static_cast<std::size_t>(count));
  WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, out->data(), count, nullptr,
                      nullptr);
  out->pop_back();  // the NUL
  return true;
}

std::string CodePageForm() { return "form in code page " + std::to_string(GetACP()); }

void Delete(const char* path) { DeleteFileA(path); }

// Runs on a thread of its own: removes the temporary files it can (not those
// open at this moment), then leaves the event to the default handling, which
// ends the program.
std::atomic<bool> ending_deferred{false};

BOOL WINAPI OnConsoleControl(DWORD) {
  // The handler's own thread waits while the target is written in place.
  while (ending_deferred.load()) Sleep(10);
  RemoveTemporaries(Delete);
  return FALSE;
}

}  // namespace

bool CommandLineArguments(int, char**, std::vector<std::string>* arguments, std::string* why) {
  // The C runtime's argv went through the ANSI code page, which loses what
  // it cannot hold: the UTF-16 command line is read instead.
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) {
    *why = "cannot read the command line";
    return false;
  }
  bool ok = true;
  for (int i = 1; i < count && ok; ++i) {
    std::string argument;
    ok = WideToUtf8(wide[i], &argument);
    if (ok) {
      arguments->push_back(std::move(argument));
    } else {
      *why = "argument " + std::to_string(i) + " is not valid UTF-16";
    }
  }
  LocalFree(wide);
  return ok;
}

Charset ArgumentCharset() { return Charset::kUtf8; }

std::string SystemErrorText(int error) {
  wchar_t* text = nullptr;
  const DWORD size = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string utf8;
  const bool ok = size != 0 && WideToUtf8(text, &utf8);
  LocalFree(text);
  if (!ok) return "error " + std::to_string(error);
  // The system's texts end with a full stop and a line break.
  while (!utf8.empty() &&
         (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == '.' || utf8.back() == ' ')) {
    utf8.pop_back();
  }
  return utf8;
}

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0 || _isatty(_fileno(stderr));
}

bool NativePath(std::string_view argument, std::string* path, std::string* why) {
  Converter to_ansi(Charset::kUtf8, Charset::kAnsi);
  path->clear();
  std::size_t bad = 0;
  if (to_ansi.Append(argument, path, &bad)) return true;
  *why = DescribeStop(Charset::kUtf8, argument, bad, CodePageForm());
  return false;
}

namespace {

// A security descriptor whose access list admits the user this process runs
// as, and no one else: nothing inherited from the folder.
class OwnerOnly {
 public:
  OwnerOnly() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    user_.resize(size);
    const bool have_user =
        size != 0 && GetTokenInformation(token, TokenUser, user_.data(), size, &size);
    CloseHandle(token);
    if (!have_user) return;
    const PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
    acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
    auto* acl = reinterpret_cast<ACL*>(acl_.data());
    ok_ = InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) &&
          AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) &&
          InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
          SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
          SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    attributes_ = {sizeof attributes_, &descriptor_, FALSE};
  }
  OwnerOnly(const OwnerOnly&) = delete;
  OwnerOnly& operator=(const OwnerOnly&) = delete;
  // Null when the system could not make it: a file then is not made.
  SECURITY_ATTRIBUTES* attributes() { return ok_ ? &attributes_ : nullptr; }

 private:
  std::vector<unsigned char> user_;
  std::vector<unsigned char> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool ok_ = false;
};

// `handle` as a C stream for reading and writing; null (the handle closed)
// when the C runtime cannot take it.
std::FILE* StreamOf(HANDLE handle) {
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_RDWR);
  if (descriptor < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(descriptor, "w+b");
  if (file == nullptr) _close(descriptor);
  return file;
}

}  // namespace

std::FILE* CreatePrivateFile(std::string* path, std::string* why) {
  std::wstring folder(MAX_PATH + 1, L'\0');
  const DWORD size = GetTempPathW(static_cast<DWORD>(folder.size()), folder.data());
  if (size == 0 || size > folder.size()) {
    *why = "cannot find the folder for temporary files";
    return nullptr;
  }
  folder.resize(size);
  OwnerOnly owner_only;
  if (owner_only.attributes() == nullptr) {
    *why = "cannot create a temporary file (error " + std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  for (int attempt = 0; attempt < 16; ++attempt) {
    unsigned int random = 0;
    if (rand_s(&random) != 0) random = GetTickCount() * 2654435761u + attempt;
    wchar_t name[32];
    swprintf(name, 32, L"quorvel-%08x.tmp", random);
    std::wstring wide = folder + name;
    // While it is open no one else may read or write it, only remove it (as
    // the console control handler does).
    const HANDLE handle =
        CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                    owner_only.attributes(), CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      break;
    }
    // The library takes ANSI names: where the folder's long name has no
    // form in the code page (a user name in another script), its short
    // name may.
    std::string utf8;
    std::wstring short_name(MAX_PATH + 1, L'\0');
    for (const bool use_short : {false, true}) {
      if (use_short) {
        const DWORD length = GetShortPathNameW(wide.c_str(), short_name.data(),
                                               static_cast<DWORD>(short_name.size()));
        if (length == 0 || length > short_name.size()) break;
        short_name.resize(length);
      }
      std::string ignored;
      if (WideToUtf8(use_short ? short_name.c_str() : wide.c_str(), &utf8) &&
          NativePath(utf8, path, &ignored)) {
        RememberTemporary(*path);
        std::FILE* file = StreamOf(handle);
        if (file == nullptr) {
          RemoveFile(*path);
          *why = "cannot open a temporary file";
        }
        return file;
      }
    }
    CloseHandle(handle);
    DeleteFileW(wide.c_str());
    *why = "the folder for temporary files has a name the system's code page cannot hold";
    return nullptr;
  }
  *why = "cannot create a temporary file (error " + std::to_string(GetLastError()) + ")";
  return nullptr;
}

std::FILE* OpenPrivateFile(std::FILE** file, const std::string& path, const char* mode) {
  if (mode[0] == 'w') return std::exchange(*file, nullptr);
  return OpenBinaryFile(path, mode);
}

void ReleasePrivateFile(std::FILE** file) {
  if (*file != nullptr) std::fclose(std::exchange(*file, nullptr));
}

bool RemoveFile(const std::string& path) {
  const bool removed = DeleteFileA(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
  if (removed) ForgetTemporary(path);
  return removed;
}

std::string StandardOutputPath() { return {}; }

std::string DiscardPath() { return {}; }

std::FILE* OpenBinaryFile(const std::string& path, const char* mode) {
  const bool write = mode[0] == 'w';
  const HANDLE handle =
      CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND     ? ENOENT
            : error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? EACCES
                                                                               : EIO;
    return nullptr;
  }
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                         _O_BINARY | (write ? _O_WRONLY : _O_RDONLY));
  if (descriptor < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(descriptor, write ? "wb" : "rb");
  if (file == nullptr) _close(descriptor);
  return file;
}

bool IsRegularFile(std::FILE* file) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void DeferEnding(bool deferred) { ending_deferred.store(deferred); }

void PrepareProcess() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

}  // namespace quorvel::cli
