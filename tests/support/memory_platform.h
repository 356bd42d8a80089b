// An in-memory platform for fuzz targets and benchmarks: the input "file" is
// a string in memory, the output is captured in a string (or, for timing,
// only counted), the date is fixed. No disk I/O, so each run is pure
// conversion work.
#ifndef QUORVEL_TESTS_SUPPORT_MEMORY_PLATFORM_H
#define QUORVEL_TESTS_SUPPORT_MEMORY_PLATFORM_H

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace qtest {

struct MemoryFiles {
  static inline std::string_view input;
  static inline std::size_t read_at = 0;
  static inline std::string written;
  static inline std::string saved;  // the output once replaced into place
  static inline bool replaced = false;
  static inline bool keep_written = true;
};

// Every open of any path reads `input` from its start. With `keep_written`
// false the output is thrown away as it is written (a benchmark's gigabytes
// need not be held).
inline void InstallMemoryPlatform(std::string_view input, bool keep_written = true) {
  namespace platform = quorvel::platform;
  MemoryFiles::input = input;
  MemoryFiles::keep_written = keep_written;
  MemoryFiles::read_at = 0;
  MemoryFiles::written.clear();
  MemoryFiles::saved.clear();
  MemoryFiles::replaced = false;
  platform::Api& api = platform::Current();
  api.open_for_read = [](const char* path, platform::Handle* h,
                         platform::InputInfo* info) -> platform::Error {
    if (std::strcmp(path, "in") != 0) return ENOENT;
    *h = 1;
    MemoryFiles::read_at = 0;
    info->sized = true;
    info->size = MemoryFiles::input.size();
    return 0;
  };
  api.read = [](platform::Handle, char* buffer, std::size_t size) -> std::ptrdiff_t {
    const std::size_t n = std::min(size, MemoryFiles::input.size() - MemoryFiles::read_at);
    if (n > 0) std::memcpy(buffer, MemoryFiles::input.data() + MemoryFiles::read_at, n);
    MemoryFiles::read_at += n;
    return static_cast<std::ptrdiff_t>(n);
  };
  api.rewind = [](platform::Handle) -> platform::Error {
    MemoryFiles::read_at = 0;
    return 0;
  };
  api.write = [](platform::Handle, const char* bytes, std::size_t size) -> std::ptrdiff_t {
    if (MemoryFiles::keep_written) MemoryFiles::written.append(bytes, size);
    return static_cast<std::ptrdiff_t>(size);
  };
  api.close = [](platform::Handle) -> platform::Error { return 0; };
  api.flush = [](platform::Handle) -> platform::Error { return 0; };
  api.start_writeback = [](platform::Handle, std::uint64_t, std::uint64_t) { return true; };
  api.release_cache = [](const char*) {};
  // Every output path is a new file in a folder that takes one.
  api.resolve = [](const char* path, platform::Resolved* resolved) -> platform::Error {
    *resolved = platform::Resolved();
    resolved->path = path;
    return 0;
  };
  api.open_path = [](const char*, platform::Handle*) -> platform::Error { return ENOENT; };
  api.describe = [](platform::Handle, platform::FileInfo* info) -> platform::Error {
    *info = platform::FileInfo();
    return 0;
  };
  api.check_access = [](const char*, platform::Access) -> platform::Error { return 0; };
  api.create_temp = [](const char*, bool, const platform::TempNaming*, platform::Handle* h,
                       std::string* temp) -> platform::Error {
    *h = 2;
    *temp = "out.tmp";
    return 0;
  };
  api.open_spool = [](platform::Handle*) -> platform::Error { return ENOSPC; };
  api.set_owner = [](platform::Handle, std::uint32_t, std::uint32_t) -> platform::Error {
    return 0;
  };
  api.set_attributes = [](platform::Handle, const platform::FileInfo&) -> platform::Error {
    return 0;
  };
  api.replace = [](const char*, const char*, bool* stranded) -> platform::Error {
    *stranded = false;
    MemoryFiles::saved = MemoryFiles::written;
    MemoryFiles::replaced = true;
    return 0;
  };
  api.sync_folder = [](const char*) -> platform::Error { return 0; };
  api.remove = [](const char*) -> platform::Error { return 0; };
  api.open_in_place = [](const char*, const platform::FileInfo*,
                         platform::Handle*) -> platform::Error { return EACCES; };
  api.reserve = [](platform::Handle, std::uint64_t) -> platform::Error { return 0; };
  api.set_length = [](platform::Handle, std::uint64_t) -> platform::Error { return 0; };
  api.with_signals_blocked = [](void (*job)(void*), void* context) { job(context); };
  api.local_date = [] { return platform::LocalDate{2026, 12, 6}; };
}

}  // namespace qtest

#endif
