// Win32 (kernel32) implementation of the platform layer. Paths go to the ANSI
// calls exactly as the host gave them: Windows reads them in the ANSI code
// page, and nothing here converts them.
#include <windows.h>

#include <atomic>

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

Target WinInspectTarget(const char* path) {
  Target target;
  target.kind = TargetKind::kFile;
  target.path = path;
  // Asks for no access, so no sharing rule of another handle can refuse it.
  const HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return target;
  BY_HANDLE_FILE_INFORMATION about;
  const bool disk = GetFileType(h) == FILE_TYPE_DISK;
  const bool folder = GetFileInformationByHandle(h, &about) &&
                      (about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  CloseHandle(h);
  // A device (NUL, a console, a pipe) or a folder is written in place, never
  // replaced; for a folder that fails as creating it would.
  if (!disk || folder) target.kind = TargetKind::kDevice;
  return target;
}

std::atomic<unsigned> temp_counter{0};

bool WinCreateTemp(const char* target_path, Handle* handle, std::string* temp_path) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned tag = static_cast<unsigned>(GetCurrentProcessId()) * 2654435761u +
                   temp_counter.fetch_add(1) + GetTickCount();
    std::string name = target_path;
    name += ".~";
    for (int k = 0; k < 8; ++k, tag >>= 4) name += kHex[tag & 0xF];
    name += ".tmp";
    const HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      return false;
    }
    *handle = Wide(h);
    *temp_path = std::move(name);
    return true;
  }
  return false;
}

bool WinReplace(const char* temp_path, const char* target_path) {
  // The target must be one that could be rewritten: not read-only and not
  // held open by another program. Opening it as the rewrite would (read and
  // write, no sharing) asks exactly that.
  const DWORD attributes = GetFileAttributesA(target_path);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) return false;
    const HANDLE h = CreateFileA(target_path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
  }
  return MoveFileExA(temp_path, target_path, MOVEFILE_REPLACE_EXISTING) != 0;
}

void WinRemove(const char* path) { DeleteFileA(path); }

bool WinOpenInPlace(const char* path, Handle* handle) {
  const HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  *handle = Wide(h);
  return true;
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
    .inspect_target = WinInspectTarget,
    .create_temp = WinCreateTemp,
    .replace = WinReplace,
    .remove = WinRemove,
    .open_in_place = WinOpenInPlace,
    .local_date = WinLocalDate,
};

}  // namespace

const Api& Native() { return kNative; }

}  // namespace quorvel::platform
