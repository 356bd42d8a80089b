// The only door to the operating system: reading a file (and starting it over),
// the pieces of an atomic save, and the local date.
//
// Two implementations share this interface, platform_posix.cpp and
// platform_win32.cpp; the build picks one, so nothing above this layer has an
// #ifdef or includes an OS header. Calls go through a table of function
// pointers (like SQLite's VFS) so that tests can inject I/O faults and pin the
// clock: Current() is what the library uses, Native() the real system.
//
// Nothing here raises a failure: each call reports success or failure, and the
// layer above decides which message that is.
#ifndef QUORVEL_PLATFORM_PLATFORM_H
#define QUORVEL_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvel::platform {

// An open file: a POSIX descriptor or a Win32 HANDLE, widened.
using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;

struct InputInfo {
  bool sized = false;       // a regular file: `size` is its length
  std::uint64_t size = 0;   // otherwise read until the end of the stream
};

// How an output path is to be written.
enum class TargetKind {
  kFile,    // a regular file, or nothing yet: saved through a temporary file
  kDevice,  // a device, pipe or folder: opened and written in place
};

struct Target {
  TargetKind kind = TargetKind::kFile;
  // For kFile: the path the save replaces, symbolic links followed, so the
  // link stays and the file it points to is replaced in its own folder.
  std::string path;
};

struct LocalDate {
  int year;
  int month;  // 1-12
  int day;    // 1-31
};

struct Api {
  // Opens an existing file for reading (others may read it meanwhile, not
  // write it). Refuses folders. False when it cannot be opened.
  bool (*open_for_read)(const char* path, Handle* handle, InputInfo* info);
  // Reads up to `size` bytes; the count read (0 at the end), or -1 on error.
  std::ptrdiff_t (*read)(Handle handle, char* buffer, std::size_t size);
  // Moves a file opened by open_for_read back to its first byte; false when
  // it cannot (only regular files are ever rewound).
  bool (*rewind)(Handle handle);
  // Writes up to `size` bytes; the count written, or -1 on error.
  std::ptrdiff_t (*write)(Handle handle, const char* bytes, std::size_t size);
  // Closes a handle; false when the system reports that data was lost.
  bool (*close)(Handle handle);

  // Says how `path` is to be saved. Touches nothing.
  Target (*inspect_target)(const char* path);
  // Creates a new, empty temporary file beside `target_path` (same folder),
  // readable and writable, not shared, with the permissions of the file it
  // will replace. Its name goes to `temp_path`.
  bool (*create_temp)(const char* target_path, Handle* handle, std::string* temp_path);
  // Puts the closed temporary file in the place of `target_path` in one step.
  // False, changing nothing, when the target may not be replaced (read-only,
  // held open by another program, a folder) or the move fails.
  bool (*replace)(const char* temp_path, const char* target_path);
  // Deletes a file; used only on temporary files.
  void (*remove)(const char* path);
  // Opens `path` for writing in place (create or truncate), not shared.
  bool (*open_in_place)(const char* path, Handle* handle);

  // Today's date on the local calendar.
  LocalDate (*local_date)();
};

const Api& Native();
Api& Current();

}  // namespace quorvel::platform

#endif  // QUORVEL_PLATFORM_PLATFORM_H
