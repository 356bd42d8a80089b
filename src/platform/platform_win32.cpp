// Win32 (kernel32) implementation of the platform layer. Paths go to the ANSI
// calls exactly as the host gave them: Windows reads them in the ANSI code
// page, and nothing here converts them.
//
// The temporary names' random bits come from msvcrt's rand_s, which draws on
// the system's generator and keeps the DLL's imports to kernel32 and msvcrt.
#define _CRT_RAND_S
#include <stdlib.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>

#include "platform/platform.h"

namespace quorvel::platform {
namespace {

HANDLE Win(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
Handle Wide(HANDLE handle) { return reinterpret_cast<Handle>(handle); }

// One call moves at most 1 GiB, well inside a DWORD.
DWORD Chunk(std::size_t size) {
  return static_cast<DWORD>(size < (std::size_t{1} << 30) ? size : (std::size_t{1} << 30));
}

bool WinOpenForRead(const char* path, Handle* handle, InputInfo* info) {
  // Others may read the file while it is loaded, not write it. A folder cannot
  // be opened without FILE_FLAG_BACKUP_SEMANTICS, so it is refused here.
  const HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  info->sized = GetFileType(h) == FILE_TYPE_DISK && GetFileSizeEx(h, &size);
  info->size = info->sized ? static_cast<std::uint64_t>(size.QuadPart) : 0;
  *handle = Wide(h);
  return true;
}

std::ptrdiff_t WinRead(Handle handle, char* buffer, std::size_t size) {
  DWORD got = 0;
  if (!ReadFile(Win(handle), buffer, Chunk(size), &got, nullptr)) {
    // The writing end of a pipe was closed: that is the end of the stream.
    return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  }
  return static_cast<std::ptrdiff_t>(got);
}

bool WinRewind(Handle handle) {
  return SetFilePointer(Win(handle), 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
}

std::ptrdiff_t WinWrite(Handle handle, const char* bytes, std::size_t size) {
  DWORD put = 0;
  if (!WriteFile(Win(handle), bytes, Chunk(size), &put, nullptr)) return -1;
  return static_cast<std::ptrdiff_t>(put);
}

bool WinClose(Handle handle) { return CloseHandle(Win(handle)) != 0; }

bool WinFlush(Handle handle) {
  // Only a disk file holds buffers; a device or a pipe has nothing to flush.
  if (GetFileType(Win(handle)) != FILE_TYPE_DISK) return true;
  return FlushFileBuffers(Win(handle)) != 0;
}

// Windows writes back on its own schedule and offers no hint for a range.
void WinStartWriteback(Handle, std::uint64_t, std::uint64_t) {}

// The cache manager gives no way to drop one file's pages; it reuses them
// on its own.
void WinReleaseCache(const char*) {}

// The folder part of `path` with its separator ("" for a bare name).
std::string FolderOf(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/:");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

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

// Sorts what the system shows at `path`, open as `h`.
void Classify(HANDLE h, const char* path, Target* target) {
  BY_HANDLE_FILE_INFORMATION about;
  const bool known = GetFileInformationByHandle(h, &about) != 0;
  if (GetFileType(h) != FILE_TYPE_DISK) {
    target->kind = TargetKind::kStream;  // NUL, a console, a pipe
    return;
  }
  if (known && (about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    target->kind = TargetKind::kFolder;
    return;
  }
  target->exists = true;
  if (known && about.nNumberOfLinks > 1) target->kind = TargetKind::kInPlace;
  // A link whose destination the system cannot name is written through.
  if (MayBeLink(path) && !FinalPath(h, &target->path)) target->kind = TargetKind::kInPlace;
}

// Has the system create the destination of a link to nothing, as a plain
// create would, to learn where it is, and deletes it again at once through
// its handle. Windows says whether the open created the file; Wine says
// ERROR_ALREADY_EXISTS either way (the link's own name exists), so there
// the file just made is told by being empty.
Target InspectDanglingLink(const char* path) {
  Target target;
  target.path = path;
  const HANDLE h = CreateFileA(path, GENERIC_WRITE | DELETE, kShareAll, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      target.kind = TargetKind::kRefused;
    }
    return target;
  }
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  ScopedHandle closer(h);
  LARGE_INTEGER size;
  const bool made = RunningOnWine() ? GetFileSizeEx(h, &size) && size.QuadPart == 0 : !existed;
  if (!made) {
    Classify(h, path, &target);
    return target;
  }
  DeleteOnClose deleter(h);
  if (!FinalPath(h, &target.path)) target.kind = TargetKind::kInPlace;
  return target;
}

Target WinInspectTarget(const char* path) {
  Target target;
  target.path = path;
  // Asks for no access, so no sharing rule of another handle can refuse it;
  // the system follows links as it opens.
  const HANDLE h =
      CreateFileA(path, 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND && IsDanglingLink(path)) return InspectDanglingLink(path);
    // Nothing there: a new file (a missing folder fails when the temporary
    // file cannot be made). Anything else, a loop of links among them, is
    // the system's refusal.
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      target.kind = TargetKind::kRefused;
    }
    return target;
  }
  ScopedHandle closer(h);
  Classify(h, path, &target);
  return target;
}

// 32 unpredictable bits from the system's generator (msvcrt's rand_s); a
// mix of clock, process and counter only if it fails (CREATE_NEW still
// keeps the file ours).
unsigned RandomTag() {
  unsigned tag;
  if (rand_s(&tag) == 0) return tag;
  static std::atomic<unsigned> counter{0};
  return GetTickCount() ^ GetCurrentProcessId() * 2654435761u ^ counter.fetch_add(0x9E3779B9u);
}

// Creates `prefix` + ".~XXXXXXXX.tmp" exclusively, a fresh random name for
// each attempt; false on any failure but a name already taken.
bool CreateExclusive(const std::string& prefix, DWORD flags, HANDLE* handle, std::string* name) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = prefix + ".~";
    for (unsigned tag = RandomTag(), k = 0; k < 8; ++k, tag >>= 4) candidate += kHex[tag & 0xF];
    candidate += ".tmp";
    const HANDLE h = CreateFileA(candidate.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 CREATE_NEW, flags, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      *handle = h;
      *name = std::move(candidate);
      return true;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

bool WinCreateTemp(const char* target_path, Handle* handle, std::string* temp_path) {
  HANDLE h;
  std::string name;
  bool made = CreateExclusive(target_path, FILE_ATTRIBUTE_NORMAL, &h, &name);
  // A path near the length limit leaves no room for the suffix (the system
  // says so in several ways): a short name in the same folder serves.
  if (!made && GetLastError() != ERROR_ACCESS_DENIED) {
    made = CreateExclusive(FolderOf(target_path), FILE_ATTRIBUTE_NORMAL, &h, &name);
  }
  if (!made) return false;
  *handle = Wide(h);
  *temp_path = std::move(name);
  return true;
}

bool WinOpenSpool(Handle* handle) {
  char folder[MAX_PATH + 1];
  const DWORD n = GetTempPathA(sizeof folder, folder);
  if (n == 0 || n >= sizeof folder) return false;
  HANDLE h;
  std::string name;
  if (!CreateExclusive(std::string(folder) + "quorvel",
                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, &h, &name)) {
    return false;
  }
  *handle = Wide(h);
  return true;
}

// The number of names the file at `path` has; 1 when it cannot be told.
DWORD LinkCount(const char* path) {
  const HANDLE h =
      CreateFileA(path, 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 1;
  BY_HANDLE_FILE_INFORMATION about;
  const bool known = GetFileInformationByHandle(h, &about) != 0;
  CloseHandle(h);
  return known ? about.nNumberOfLinks : 1;
}

// ReplaceFileA gives the replacing file the target's attributes (and its
// access list, not its owner); Wine's does not, and the move used there
// cannot, so the attributes are given here beforehand. A second name gained
// since the save chose to replace the file would be lost: false.
bool WinTakeOver(Handle temp, const char*, const char* target_path) {
  const DWORD attributes = GetFileAttributesA(target_path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;  // a new file
  if (LinkCount(target_path) > 1) return false;
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes = attributes & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                       FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(Win(temp), FileBasicInfo, &basic, sizeof basic) != 0;
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

Replaced WinReplace(const char* temp_path, const char* target_path) {
  DWORD attributes = GetFileAttributesA(target_path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    // A new file: moved into place. Should a file have appeared there
    // meanwhile (a second save), it is replaced below like any other, as a
    // rename replaces it on POSIX.
    if (calls.move_file(temp_path, target_path, MOVEFILE_WRITE_THROUGH)) return Replaced::kYes;
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return Replaced::kRefused;
    attributes = GetFileAttributesA(target_path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return Replaced::kRefused;
  }
  // A target that could not be rewritten is not replaced either.
  if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) return Replaced::kRefused;
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
  if (!done) return Replaced::kRefused;
  if (!half_way) return Replaced::kYes;
  return Retried([&] { return MoveOver(temp_path, target_path); }) ? Replaced::kYes
                                                                   : Replaced::kStranded;
}

bool WinSyncFolder(const char*) { return true; }  // the move was written through

void WinRemove(const char* path) { DeleteFileA(path); }

bool WinOpenInPlace(const char* path, Handle* handle) {
  // Opened as it is: a file keeps its content, attributes and links.
  const HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  // A read-only file is not written, as it is not replaced (Wine lets an
  // administrator open one for writing).
  BY_HANDLE_FILE_INFORMATION about;
  if (GetFileInformationByHandle(h, &about) &&
      (about.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    CloseHandle(h);
    return false;
  }
  *handle = Wide(h);
  return true;
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
bool WinReserve(Handle handle, std::uint64_t size) {
  const HANDLE h = Win(handle);
  if (GetFileType(h) != FILE_TYPE_DISK) return true;
  LARGE_INTEGER now;
  if (!GetFileSizeEx(h, &now)) return false;
  if (size > static_cast<std::uint64_t>(now.QuadPart) && (!Seek(h, size) || !SetEndOfFile(h))) {
    return false;
  }
  return Seek(h, 0);
}

bool WinSetLength(Handle handle, std::uint64_t size) {
  const HANDLE h = Win(handle);
  if (GetFileType(h) != FILE_TYPE_DISK) return true;
  return Seek(h, size) && SetEndOfFile(h);
}

LocalDate WinLocalDate() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay};
}

constexpr Api kNative = {
    .open_for_read = WinOpenForRead,
    .read = WinRead,
    .rewind = WinRewind,
    .write = WinWrite,
    .close = WinClose,
    .flush = WinFlush,
    .start_writeback = WinStartWriteback,
    .release_cache = WinReleaseCache,
    .inspect_target = WinInspectTarget,
    .create_temp = WinCreateTemp,
    .open_spool = WinOpenSpool,
    .take_over = WinTakeOver,
    .replace = WinReplace,
    .sync_folder = WinSyncFolder,
    .remove = WinRemove,
    .open_in_place = WinOpenInPlace,
    .reserve = WinReserve,
    .set_length = WinSetLength,
    .local_date = WinLocalDate,
    .system_call = WinSystemCall,
};

}  // namespace

const Api& Native() { return kNative; }

}  // namespace quorvel::platform
