// Win32 (kernel32) implementation of the platform layer. Paths go to the ANSI
// calls exactly as the host gave them: Windows reads them in the ANSI code
// page, and nothing here converts them.
//
// The temporary names' random bits come from the processor's generator, or
// else from msvcrt's rand_s, which draws on the system's generator and keeps
// the DLL's imports to kernel32 and msvcrt.
#define _CRT_RAND_S
#include <cpuid.h>
#include <immintrin.h>
#include <stdlib.h>
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/monitor.h"
#include "platform/platform.h"

namespace quorvel::platform {
namespace {

HANDLE Win(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
Handle Wide(HANDLE handle) { return reinterpret_cast<Handle>(handle); }

// One call moves at most 1 GiB, well inside a DWORD.
DWORD Chunk(std::size_t size) {
  return static_cast<DWORD>(size < (std::size_t{1} << 30) ? size : (std::size_t{1} << 30));
}

// The error a call that failed set; never 0, which would read as success.
Error LastError() {
  const DWORD error = GetLastError();
  return error != 0 ? static_cast<Error>(error) : ERROR_GEN_FAILURE;
}

// The result of a call that returned `ok`: 0, or the error it set.
Error Result(bool ok) { return ok ? 0 : LastError(); }

Error WinOpenForRead(const char* path, Handle* handle, InputInfo* info) {
  // Others may read the file while it is loaded, not write it. A folder cannot
  // be opened without FILE_FLAG_BACKUP_SEMANTICS, so it is refused here. The
  // file is read from front to back (twice at most): the system may read
  // ahead further and let go of what was read sooner.
  const HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  LARGE_INTEGER size;
  info->sized = GetFileType(h) == FILE_TYPE_DISK && GetFileSizeEx(h, &size);
  info->size = info->sized ? static_cast<std::uint64_t>(size.QuadPart) : 0;
  *handle = Wide(h);
  return 0;
}

std::ptrdiff_t WinRead(Handle handle, char* buffer, std::size_t size) {
  DWORD got = 0;
  if (!ReadFile(Win(handle), buffer, Chunk(size), &got, nullptr)) {
    // The writing end of a pipe was closed: that is the end of the stream.
    const DWORD error = GetLastError();
    return error == ERROR_BROKEN_PIPE ? 0 : -static_cast<std::ptrdiff_t>(LastError());
  }
  return static_cast<std::ptrdiff_t>(got);
}

Error WinRewind(Handle handle) {
  LARGE_INTEGER start = {};
  return Result(SetFilePointerEx(Win(handle), start, nullptr, FILE_BEGIN) != 0);
}

std::ptrdiff_t WinWrite(Handle handle, const char* bytes, std::size_t size) {
  DWORD put = 0;
  if (!WriteFile(Win(handle), bytes, Chunk(size), &put, nullptr)) {
    return -static_cast<std::ptrdiff_t>(LastError());
  }
  return static_cast<std::ptrdiff_t>(put);
}

Error WinClose(Handle handle) { return Result(CloseHandle(Win(handle)) != 0); }

Error WinFlush(Handle handle) {
  // Only a disk file holds buffers; a device or a pipe has nothing to flush.
  if (GetFileType(Win(handle)) != FILE_TYPE_DISK) return 0;
  return Result(FlushFileBuffers(Win(handle)) != 0);
}

// Windows writes back on its own schedule and offers no hint for a range.
bool WinStartWriteback(Handle, std::uint64_t, std::uint64_t) { return false; }

// The cache manager gives no way to drop one file's pages; it reuses them
// on its own.
void WinReleaseCache(const char*) {}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The system calls whose failures tests need but cannot cause for real,
// called through these pointers so that Api::system_call can swap them.
struct SystemCalls {
  decltype(&ReplaceFileA) replace_file = ReplaceFileA;
  decltype(&MoveFileExA) move_file = MoveFileExA;
  decltype(&GetFinalPathNameByHandleA) final_path = GetFinalPathNameByHandleA;
};
SystemCalls calls;

template <typename Call>
SystemCall Swap(Call* slot, Call native, SystemCall call) {
  const SystemCall previous = reinterpret_cast<SystemCall>(*slot);
  *slot = call != nullptr ? reinterpret_cast<Call>(call) : native;
  return previous;
}

SystemCall WinSystemCall(const char* name, SystemCall call) {
  if (std::strcmp(name, "ReplaceFileA") == 0) {
    return Swap(&calls.replace_file, &ReplaceFileA, call);
  }
  if (std::strcmp(name, "MoveFileExA") == 0) return Swap(&calls.move_file, &MoveFileExA, call);
  if (std::strcmp(name, "GetFinalPathNameByHandleA") == 0) {
    return Swap(&calls.final_path, &GetFinalPathNameByHandleA, call);
  }
  return nullptr;
}

// Closes a handle when it goes out of scope, exceptions included.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE h) : h_(h) {}
  ~ScopedHandle() { CloseHandle(h_); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

 private:
  HANDLE h_;
};

// Marks a file for deletion when it goes out of scope, exceptions included:
// the file goes when its last handle is closed.
class DeleteOnClose {
 public:
  explicit DeleteOnClose(HANDLE h) : h_(h) {}
  ~DeleteOnClose() {
    FILE_DISPOSITION_INFO dispose = {TRUE};
    SetFileInformationByHandle(h_, FileDispositionInfo, &dispose, sizeof dispose);
  }
  DeleteOnClose(const DeleteOnClose&) = delete;
  DeleteOnClose& operator=(const DeleteOnClose&) = delete;

 private:
  HANDLE h_;
};

// `name` as GetFinalPathNameByHandleA gives it, in the plain form the ANSI
// calls take where it has one: a drive letter or a server within MAX_PATH
// loses the "\\?\" prefix; a longer path or a volume without a letter
// ("\\?\Volume{...}") keeps it.
std::string PlainPath(std::string name) {
  if (name.compare(0, 8, "\\\\?\\UNC\\") == 0 && name.size() - 6 < MAX_PATH) {
    return "\\\\" + name.substr(8);  // \\?\UNC\server -> \\server
  }
  if (name.compare(0, 4, "\\\\?\\") == 0 && name.size() > 5 && name[5] == ':' &&
      name.size() - 4 < MAX_PATH) {
    return name.substr(4);
  }
  return name;
}

// The path of the file `h` is open on, links followed by the system. Some
// file systems cannot give the normalized name (RAM disks, some network
// shares) or a drive letter (a volume mounted in a folder): the name as
// opened, then the volume's own name, serve as well. False when none can
// be had; `path` is then left as it was.
bool FinalPath(HANDLE h, std::string* path) {
  for (const DWORD flags : {DWORD{FILE_NAME_NORMALIZED}, DWORD{FILE_NAME_OPENED},
                            DWORD{FILE_NAME_NORMALIZED | VOLUME_NAME_GUID}}) {
    // The first call gives the size: Windows counts the NUL, Wine does not.
    const DWORD need = calls.final_path(h, nullptr, 0, flags);
    if (need == 0 || need >= 0x10000) continue;
    std::string name(need + 1, '\0');
    const DWORD n = calls.final_path(h, name.data(), need + 1, flags);
    if (n == 0 || n > need) continue;
    name.resize(n);
    *path = PlainPath(std::move(name));
    return true;
  }
  return false;
}

// Wine differs from Windows in three calls the save makes: it shows a Unix
// link as the file it names (MayBeLink), hides a link to nothing
// (IsDanglingLink), and its ReplaceFileA is no single step (ReplaceOnce).
bool RunningOnWine() {
  static const bool wine =
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

// Whether the last part of `path` may be a link the system followed (a
// reparse point: a symbolic link, a junction), whose destination the save
// must then name itself. Under Wine any file may be one.
bool MayBeLink(const char* path) {
  if (RunningOnWine()) return true;
  const DWORD attributes = GetFileAttributesA(path);
  return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// A symbolic link whose destination does not exist: Windows shows it as a
// reparse point. Wine hides a Unix link to nothing entirely, from listings
// too; there only an exclusive create at its name tells, failing because the
// name is taken. Where the name is free, that probe is a real file for a
// moment, deleted as it is closed: visible to other programs meanwhile, and
// a program creating the same name exclusively in that moment fails. Wine
// offers no probe without it.
bool IsDanglingLink(const char* path) {
  HANDLE h = CreateFileA(path, 0, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return true;
  }
  if (!RunningOnWine()) return false;
  h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return false;
  }
  const DWORD error = GetLastError();
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

Error WinDescribe(Handle handle, FileInfo* info) {
  const HANDLE h = Win(handle);
  BY_HANDLE_FILE_INFORMATION about;
  const DWORD type = GetFileType(h);
  if (type != FILE_TYPE_DISK) {
    // NUL, a console, a pipe: nothing more to know.
    *info = FileInfo();
    return type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR ? LastError() : 0;
  }
  if (!GetFileInformationByHandle(h, &about)) return LastError();
  const DWORD attributes = about.dwFileAttributes;
  info->type = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? FileType::kLink
               : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0   ? FileType::kFolder
                                                                : FileType::kRegular;
  info->device = about.dwVolumeSerialNumber;
  info->file = (std::uint64_t{about.nFileIndexHigh} << 32) | about.nFileIndexLow;
  info->links = about.nNumberOfLinks;
  info->owner = info->group = info->mode = 0;
  info->attributes = attributes;
  info->extended = false;
  return 0;
}

Error WinOpenPath(const char* path, Handle* handle) {
  const HANDLE h = CreateFileA(path, 0, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  *handle = Wide(h);
  return 0;
}

// What the system shows at `path`, open as `h`: a regular file whose path
// may be a link gets its own path, or is marked as one that cannot be named.
Error Describe(HANDLE h, const char* path, Resolved* resolved) {
  if (const Error error = WinDescribe(Wide(h), &resolved->info)) return error;
  // A followed handle shows the file itself, never the link.
  if (resolved->info.type == FileType::kLink) resolved->info.type = FileType::kRegular;
  resolved->found = true;
  if (resolved->info.type == FileType::kRegular && MayBeLink(path)) {
    resolved->named = FinalPath(h, &resolved->path);
  }
  return 0;
}

// Has the system create the destination of a link to nothing, as a plain
// create would, to learn where it is, and deletes it again at once through
// its handle. Windows says whether the open created the file; Wine says
// ERROR_ALREADY_EXISTS either way (the link's own name exists), so there
// the file just made is told by being empty.
Error ResolveDanglingLink(const char* path, Resolved* resolved) {
  const HANDLE h = CreateFileA(path, GENERIC_WRITE | DELETE, kShareAll, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : error;
  }
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  ScopedHandle closer(h);
  LARGE_INTEGER size;
  const bool made = RunningOnWine() ? GetFileSizeEx(h, &size) && size.QuadPart == 0 : !existed;
  if (!made) return Describe(h, path, resolved);
  DeleteOnClose deleter(h);
  resolved->named = FinalPath(h, &resolved->path);
  if (!resolved->named) resolved->path = path;
  return 0;
}

Error WinResolve(const char* path, Resolved* resolved) {
  *resolved = Resolved();
  resolved->path = path;
  // Asks for no access, so no sharing rule of another handle can refuse it;
  // the system follows links as it opens.
  const HANDLE h =
      CreateFileA(path, 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND && IsDanglingLink(path)) {
      return ResolveDanglingLink(path, resolved);
    }
    // Nothing there: a new file (a missing folder fails when the temporary
    // file cannot be made). Anything else, a loop of links among them, is
    // the system's refusal.
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : error;
  }
  ScopedHandle closer(h);
  return Describe(h, path, resolved);
}

// A read-only file or a folder is not written; whether a folder takes new
// names cannot be told beforehand (its access list decides).
Error WinCheckAccess(const char* path, Access access) {
  if (access == Access::kCreateIn) return 0;
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
  return (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0
             ? ERROR_ACCESS_DENIED
             : 0;
}

bool HasRdrand() {
  unsigned eax, ebx, ecx, edx;
  return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_RDRND) != 0;
}

// 32 bits from the processor's generator, which may run dry for a moment;
// false when it does not give them, or gives what it gave last (some
// processors' generators have stuck at one value, which would give every
// attempt the same name).
__attribute__((target("rdrnd"))) bool RdrandTag(unsigned& tag) {
  static const bool has = HasRdrand();
  static std::atomic<unsigned> last{0};
  if (!has) return false;
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (_rdrand32_step(&tag) != 0) return last.exchange(tag) != tag;
  }
  return false;
}

// 32 unpredictable bits: from the processor's generator where it has one,
// else from the system's (msvcrt's rand_s, which loads advapi32 for it on
// its first use, a few milliseconds of the call under Wine); a mix of
// clock, process and counter only if both fail (CREATE_NEW still keeps the
// file ours).
unsigned RandomTag() {
  unsigned tag;
  if (RdrandTag(tag) || rand_s(&tag) == 0) return tag;
  static std::atomic<unsigned> counter{0};
  return GetTickCount() ^ GetCurrentProcessId() * 2654435761u ^ counter.fetch_add(0x9E3779B9u);
}

// Creates `prefix` + ".~XXXXXXXX.tmp" exclusively, a fresh random name for
// each attempt, telling `naming` (if any) of each name before it is tried.
Error CreateExclusive(const std::string& prefix, DWORD flags, SECURITY_ATTRIBUTES* security,
                      const TempNaming* naming, HANDLE* handle, std::string* name) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = prefix + ".~";
    for (unsigned tag = RandomTag(), k = 0; k < 8; ++k, tag >>= 4) candidate += kHex[tag & 0xF];
    candidate += ".tmp";
    if (naming != nullptr) naming->tell(naming->context, candidate, true);
    const HANDLE h = CreateFileA(candidate.c_str(), GENERIC_READ | GENERIC_WRITE, 0, security,
                                 CREATE_NEW, flags, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      *handle = h;
      *name = std::move(candidate);
      return 0;
    }
    const DWORD error = GetLastError();
    if (naming != nullptr) naming->tell(naming->context, candidate, false);
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return error;
  }
  return ERROR_FILE_EXISTS;
}

// ntdll's calls for a file's security descriptor and the caller's token.
// ntdll is in every process from its start: looking them up loads nothing
// (advapi32, which wraps them, costs a call under Wine milliseconds to
// load), and the DLL goes on importing from kernel32 and msvcrt alone.
struct Ntdll {
  LONG(WINAPI* query_security)(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, ULONG, PULONG);
  LONG(WINAPI* open_thread_token)(HANDLE, ACCESS_MASK, BOOLEAN, PHANDLE);
  LONG(WINAPI* open_process_token)(HANDLE, ACCESS_MASK, PHANDLE);
  LONG(WINAPI* query_token)(HANDLE, TOKEN_INFORMATION_CLASS, PVOID, ULONG, PULONG);
};

template <typename Call>
void Find(HMODULE module, const char* name, Call* call) {
  *call = reinterpret_cast<Call>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

const Ntdll& NtCalls() {
  static const Ntdll calls = [] {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    Ntdll found = {};
    Find(ntdll, "NtQuerySecurityObject", &found.query_security);
    Find(ntdll, "NtOpenThreadToken", &found.open_thread_token);
    Find(ntdll, "NtOpenProcessToken", &found.open_process_token);
    Find(ntdll, "NtQueryInformationToken", &found.query_token);
    return found;
  }();
  return calls;
}

constexpr LONG kBufferTooSmall = static_cast<LONG>(0xC0000023);  // STATUS_BUFFER_TOO_SMALL

// The access list of the file at `path` (with its inheritance flags; no
// owner), as a self-relative descriptor in `descriptor`. False where it
// cannot be read: nothing there, a folder, no right to read it.
bool ReadAccessList(const char* path, std::vector<std::uint64_t>* descriptor) {
  if (path[0] == '\0' || std::strchr("\\/:", path[std::strlen(path) - 1]) != nullptr) {
    return false;  // a folder's prefix, not a file
  }
  const auto query = NtCalls().query_security;
  if (query == nullptr) return false;
  const HANDLE h = CreateFileA(path, READ_CONTROL, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  ScopedHandle closer(h);
  descriptor->assign(64, 0);
  for (int attempt = 0; attempt < 3; ++attempt) {
    const ULONG size = static_cast<ULONG>(descriptor->size() * sizeof(std::uint64_t));
    ULONG needed = 0;
    const LONG status = query(h, DACL_SECURITY_INFORMATION, descriptor->data(), size, &needed);
    if (status >= 0) return true;
    if (status != kBufferTooSmall || needed <= size) return false;
    descriptor->assign(needed / sizeof(std::uint64_t) + 1, 0);
  }
  return false;
}

// A descriptor whose access list grants everything to the user the calling
// thread acts for and nothing to anyone else, none of it inherited from the
// folder. The owner of a file keeps the right to read and change its list.
class OwnerOnly {
 public:
  // The error when the user cannot be told.
  Error Make() {
    const Ntdll& nt = NtCalls();
    if (nt.open_process_token == nullptr || nt.query_token == nullptr) return ERROR_PROC_NOT_FOUND;
    HANDLE token = nullptr;
    // A thread acting for another user creates files as that user.
    if ((nt.open_thread_token == nullptr ||
         nt.open_thread_token(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) < 0) &&
        nt.open_process_token(GetCurrentProcess(), TOKEN_QUERY, &token) < 0) {
      return ERROR_ACCESS_DENIED;
    }
    ScopedHandle closer(token);
    alignas(8) char user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    ULONG size = 0;
    if (nt.query_token(token, TokenUser, user, sizeof user, &size) < 0) return ERROR_ACCESS_DENIED;
    const SID* sid = static_cast<const SID*>(reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
    const DWORD sid_size = 8 + 4 * DWORD{sid->SubAuthorityCount};
    if (sid->SubAuthorityCount > SID_MAX_SUB_AUTHORITIES) return ERROR_INVALID_SID;
    auto* acl = reinterpret_cast<ACL*>(list_);
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(acl + 1);
    const DWORD ace_size = offsetof(ACCESS_ALLOWED_ACE, SidStart) + sid_size;
    *acl = ACL{ACL_REVISION, 0, static_cast<WORD>(sizeof(ACL) + ace_size), 1, 0};
    ace->Header = ACE_HEADER{ACCESS_ALLOWED_ACE_TYPE, 0, static_cast<WORD>(ace_size)};
    ace->Mask = FILE_ALL_ACCESS;
    std::memcpy(&ace->SidStart, sid, sid_size);
    descriptor_ = SECURITY_DESCRIPTOR{};
    descriptor_.Revision = SECURITY_DESCRIPTOR_REVISION;
    descriptor_.Control = SE_DACL_PRESENT | SE_DACL_PROTECTED;
    descriptor_.Dacl = acl;
    return 0;
  }
  SECURITY_DESCRIPTOR* descriptor() { return &descriptor_; }

 private:
  SECURITY_DESCRIPTOR descriptor_ = {};
  alignas(8) char list_[sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE] = {};
};

// A file that is to replace another grants nobody what that one does not,
// from its first moment: it is made with the access list of the file at
// `prefix` (the file it replaces), or, where that list cannot be read (a
// long name's temporary file, made under its folder alone, among them),
// with one that grants its owner alone. ReplaceFileA gives it the target's
// list again as it replaces it. A new file takes the list the folder gives
// a new file, the one it keeps. Not shared: until it is closed for the
// replacement, no other program opens it.
Error WinCreateTemp(const char* prefix, bool replacing, const TempNaming* naming, Handle* handle,
                    std::string* name) {
  SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
  std::vector<std::uint64_t> target_list;
  OwnerOnly owner_only;
  if (replacing) {
    if (ReadAccessList(prefix, &target_list)) {
      security.lpSecurityDescriptor = target_list.data();
    } else if (const Error error = owner_only.Make()) {
      return error;
    } else {
      security.lpSecurityDescriptor = owner_only.descriptor();
    }
  }
  HANDLE h;
  const Error error = CreateExclusive(prefix, FILE_ATTRIBUTE_NORMAL, &security, naming, &h, name);
  if (error == 0) *handle = Wide(h);
  return error;
}

Error WinOpenSpool(Handle* handle) {
  char folder[MAX_PATH + 1];
  const DWORD n = GetTempPathA(sizeof folder, folder);
  if (n == 0) return LastError();
  if (n >= sizeof folder) return ERROR_FILENAME_EXCED_RANGE;
  HANDLE h;
  std::string name;
  if (const Error error = CreateExclusive(std::string(folder) + "quorvel",
                                          FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                          nullptr, nullptr, &h, &name)) {
    return error;
  }
  *handle = Wide(h);
  return 0;
}

// The caller owns what it creates; ReplaceFileA carries the access list over.
Error WinSetOwner(Handle, std::uint32_t, std::uint32_t) { return 0; }

// ReplaceFileA gives the replacing file the target's attributes; Wine's does
// not, and the move used there cannot, so they are given here beforehand.
Error WinSetAttributes(Handle handle, const FileInfo& from) {
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes =
      from.attributes & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                         FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return Result(SetFileInformationByHandle(Win(handle), FileBasicInfo, &basic, sizeof basic) != 0);
}

// Moves the temporary file to `target_path`, over whatever is there now.
bool MoveOver(const char* temp_path, const char* target_path) {
  return calls.move_file(temp_path, target_path,
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// Wine's ReplaceFileA moves the target aside, deletes it and then moves the
// new file in: for a moment there is no file, a second save meeting that
// moment fails, and a failed call leaves a file of its own behind. There one
// move with MOVEFILE_REPLACE_EXISTING, a single rename underneath, replaces
// the file instead.
bool ReplaceOnce(const char* temp_path, const char* target_path) {
  if (RunningOnWine()) return MoveOver(temp_path, target_path);
  return calls.replace_file(target_path, temp_path, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                            nullptr, nullptr) != 0;
}

// Errors that another program holding the file for a moment (a second
// save, a virus scanner) causes: worth a short wait and another try.
bool Transient(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_LOCK_VIOLATION || error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

// Runs `step` until it succeeds, fails with a lasting error, or has failed
// six times, waiting 10, 20, 40, 80 and 160 ms between tries (0.3 s in all).
template <typename Step>
bool Retried(Step step) {
  DWORD wait = 10;
  for (int attempt = 0;; ++attempt, wait *= 2) {
    if (step()) return true;
    if (attempt == 5 || !Transient(GetLastError())) return false;
    Sleep(wait);
  }
}

bool Missing(const char* path) {
  return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES &&
         GetLastError() == ERROR_FILE_NOT_FOUND;
}

Error WinReplace(const char* temp_path, const char* target_path, bool* stranded) {
  *stranded = false;
  DWORD attributes = GetFileAttributesA(target_path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    // A new file: moved into place. Should a file have appeared there
    // meanwhile (a second save), it is replaced below like any other, as a
    // rename replaces it on POSIX.
    if (calls.move_file(temp_path, target_path, MOVEFILE_WRITE_THROUGH)) return 0;
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return error;
    attributes = GetFileAttributesA(target_path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
  }
  // A target that could not be rewritten is not replaced either.
  if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) return ERROR_ACCESS_DENIED;
  // ReplaceFileA can stop half-way (ERROR_UNABLE_TO_MOVE_REPLACEMENT): the
  // old file deleted, the new one still under its temporary name. The move
  // finishes it; until it succeeds the temporary file is all there is.
  bool half_way = false;
  const bool done = Retried([&] {
    if (ReplaceOnce(temp_path, target_path)) return true;
    const DWORD error = GetLastError();
    half_way = error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || Missing(target_path);
    SetLastError(error);
    return half_way;
  });
  if (!done) return LastError();
  if (!half_way) return 0;
  if (Retried([&] { return MoveOver(temp_path, target_path); })) return 0;
  *stranded = true;
  return LastError();
}

Error WinSyncFolder(const char*) { return 0; }  // the move was written through

Error WinRemove(const char* path) { return Result(DeleteFileA(path) != 0); }

Error WinOpenInPlace(const char* path, const FileInfo* expected, Handle* handle) {
  *handle = kNoHandle;
  // Opened as it is: a file keeps its content, attributes and links.
  const HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               expected != nullptr ? OPEN_EXISTING : OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  // Another file at the path now is left as it is.
  FileInfo now;
  if (expected != nullptr) {
    if (const Error error = WinDescribe(Wide(h), &now)) {
      CloseHandle(h);
      return error;
    }
    if (now.device != expected->device || now.file != expected->file) {
      CloseHandle(h);
      return 0;
    }
  }
  // A read-only file is not written, as it is not replaced (Wine lets an
  // administrator open one for writing).
  BY_HANDLE_FILE_INFORMATION about;
  if (GetFileInformationByHandle(h, &about) &&
      (about.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    CloseHandle(h);
    return ERROR_ACCESS_DENIED;
  }
  *handle = Wide(h);
  return 0;
}

// Moves the file pointer of `h` to `offset`.
bool Seek(HANDLE h, std::uint64_t offset) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  return offset <= static_cast<std::uint64_t>(INT64_MAX) &&
         SetFilePointerEx(h, at, nullptr, FILE_BEGIN) != 0;
}

// A file shorter than `size` is lengthened to it, which allocates the room
// (the new bytes read as zeros until they are written); the pointer goes
// back to the first byte.
Error WinReserve(Handle handle, std::uint64_t size) {
  const HANDLE h = Win(handle);
  if (GetFileType(h) != FILE_TYPE_DISK) return 0;
  LARGE_INTEGER now;
  if (!GetFileSizeEx(h, &now)) return LastError();
  if (size > static_cast<std::uint64_t>(now.QuadPart) && (!Seek(h, size) || !SetEndOfFile(h))) {
    return LastError();
  }
  return Result(Seek(h, 0));
}

Error WinSetLength(Handle handle, std::uint64_t size) {
  const HANDLE h = Win(handle);
  if (GetFileType(h) != FILE_TYPE_DISK) return 0;
  return Result(Seek(h, size) && SetEndOfFile(h));
}

// Windows delivers no signals to threads: the job just runs.
void WinWithSignalsBlocked(void (*job)(void*), void* context) { job(context); }

LocalDate WinLocalDate() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay};
}

constexpr Api kNative = {
    .separators = "\\/:",
    .open_for_read = WinOpenForRead,
    .read = WinRead,
    .rewind = WinRewind,
    .write = WinWrite,
    .close = WinClose,
    .flush = WinFlush,
    .start_writeback = WinStartWriteback,
    .release_cache = WinReleaseCache,
    .resolve = WinResolve,
    .open_path = WinOpenPath,
    .describe = WinDescribe,
    .check_access = WinCheckAccess,
    .create_temp = WinCreateTemp,
    .open_spool = WinOpenSpool,
    .set_owner = WinSetOwner,
    .set_attributes = WinSetAttributes,
    .replace = WinReplace,
    .sync_folder = WinSyncFolder,
    .remove = WinRemove,
    .open_in_place = WinOpenInPlace,
    .reserve = WinReserve,
    .set_length = WinSetLength,
    .with_signals_blocked = WinWithSignalsBlocked,
    .local_date = WinLocalDate,
    .system_call = WinSystemCall,
};

}  // namespace

const Api& Native() { return kNative; }

// The two words are an SRWLOCK and a CONDITION_VARIABLE, each one pointer,
// whose initial state is zero.
static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*));
void Monitor::Lock() { AcquireSRWLockExclusive(reinterpret_cast<SRWLOCK*>(&lock_)); }
void Monitor::Unlock() { ReleaseSRWLockExclusive(reinterpret_cast<SRWLOCK*>(&lock_)); }
void Monitor::Wait() {
  (void)SleepConditionVariableSRW(reinterpret_cast<CONDITION_VARIABLE*>(&condition_),
                                  reinterpret_cast<SRWLOCK*>(&lock_), INFINITE, 0);
}
void Monitor::NotifyAll() {
  WakeAllConditionVariable(reinterpret_cast<CONDITION_VARIABLE*>(&condition_));
}

}  // namespace quorvel::platform
