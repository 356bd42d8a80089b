// The only door to the operating system: reading a file (and starting it over),
// the pieces of an atomic, durable save, and the local date.
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

// How an output path is to be saved.
enum class TargetKind {
  kReplace,  // a regular file, or nothing yet: written to a temporary file
             // beside it, which then takes its place in one step
  kInPlace,  // a regular file that a replacement would change in more than
             // its content (more than one hard link, an ACL or other extended
             // attributes, a folder that takes no new file, a file another
             // process holds open through /proc), or a link whose destination
             // the system cannot name: rewritten in place
  kStream,   // a device or a pipe: written in place
  kFolder,   // a folder: cannot be saved to
  kRefused,  // the system refuses the path: a loop of links, a link the
             // system will not follow, a folder on the way that may not be
             // searched
};

struct Target {
  TargetKind kind = TargetKind::kReplace;
  // kReplace: where the file is, symbolic links followed by the system
  // itself, so a link stays and the file it points to is saved in its own
  // folder. kInPlace: that path where the system can name it, else the path
  // as given (opening it follows the links). Otherwise the path as given.
  std::string path;
  // A file is there now (kReplace, kInPlace). Where the temporary file cannot
  // be made or cannot take its place, it can still be rewritten in place.
  bool exists = false;
};

// How a replace ended.
enum class Replaced {
  kYes,       // the temporary file is in the target's place
  kRefused,   // nothing changed: the target may not be replaced (read-only,
              // held open by another program, a folder that takes no new name)
  kStranded,  // the system removed the target and then could not give the
              // temporary file its name: the new content exists only under
              // the temporary name, which must be kept
};

// One of the system's own calls, cast to and from its real type: see
// Api::system_call.
using SystemCall = void (*)();

struct LocalDate {
  int year;
  int month;  // 1-12
  int day;    // 1-31
};

struct Api {
  // Opens an existing file for reading. Refuses folders. False when it cannot
  // be opened. On Windows others may read the file meanwhile, not write it;
  // POSIX has no such sharing rule, so there the file is not protected.
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

  // Makes what was written through `handle` durable (fsync,
  // FlushFileBuffers). True for a handle that has nothing to flush (a
  // device, a pipe); false when the system reports that data was lost.
  bool (*flush)(Handle handle);
  // Asks the system to start writing [offset, offset + size) of `handle` to
  // the disk now, without waiting: the flush at the end then finds most of
  // a large output already written, the disk having worked while the
  // conversion did. A hint only; never fails, may do nothing.
  void (*start_writeback)(Handle handle, std::uint64_t offset, std::uint64_t size);
  // Tells the system that what it caches of the existing file at `path`,
  // which a new file is about to replace, is no longer wanted. Rewriting the
  // file in place would let go of those pages at once; keeping them while
  // the new file's pages fill doubles the memory a large save holds, and
  // the new pages then come from memory not touched for a while, which
  // costs far more to fill (on a virtual machine above all). The file's
  // content is untouched: bytes not yet on the disk are written first. A
  // hint only; never fails, may do nothing.
  void (*release_cache)(const char* path);

  // Says how `path` is to be saved. Leaves the file system as it was: the
  // file that following a link to nothing creates, to learn where it would
  // be, is removed again at once.
  Target (*inspect_target)(const char* path);
  // Creates a new, empty file exclusively beside `target_path` (same folder)
  // under an unpredictable name, NAME.~XXXXXXXX.tmp, or .~XXXXXXXX.tmp in
  // the same folder when that name would be too long. Readable and
  // writable, not shared. On POSIX readable by its owner only while it
  // replaces an existing file; on Windows it has the access list the folder
  // gives a new file until the replace gives it the target's. Its name goes
  // to `temp_path`.
  bool (*create_temp)(const char* target_path, Handle* handle, std::string* temp_path);
  // Opens a new, unnamed scratch file in the system's temporary folder,
  // readable and writable, deleted when it is closed. Holds output that is
  // copied elsewhere later.
  bool (*open_spool)(Handle* handle);
  // Gives the temporary file what the existing file at `target_path` has
  // beyond its content, so that replacing it changes nothing else: owner,
  // group and permission bits (setuid and setgid included) on POSIX; file
  // attributes on Windows (where ReplaceFileA carries the access list over
  // itself, not the owner). True as well when there is no file at
  // `target_path`. False when a replacement would change the file in more
  // than its content: the caller may not give the file that owner or group,
  // or the target has meanwhile gained a second hard link or extended
  // attributes. The target must then be rewritten in place.
  bool (*take_over)(Handle temp, const char* temp_path, const char* target_path);
  // Puts the closed temporary file in the place of `target_path` in one step
  // (written through to the disk where the system offers it). A sharing
  // conflict on Windows is retried a few times.
  Replaced (*replace)(const char* temp_path, const char* target_path);
  // Makes the latest change of name in the folder holding `target_path`
  // durable (POSIX: fsync of the folder; Windows: nothing, the move was
  // written through).
  bool (*sync_folder)(const char* target_path);
  // Deletes a file; used only on temporary files the save itself created.
  void (*remove)(const char* path);
  // Opens `path` for writing in place, at its first byte: creates it, or
  // opens an existing file as it is, keeping its content (until it is
  // written over), owner, permissions and links; not shared with another
  // writer meanwhile (POSIX: a write lock on a regular file).
  bool (*open_in_place)(const char* path, Handle* handle);
  // Makes sure a file opened by open_in_place has room for `size` bytes
  // before anything is written over its content, so that a full disk is met
  // while the file is still whole: its content stays as it is (Windows
  // lengthens a shorter file with zeros). True for a device or a pipe, and
  // where the file system has no way to reserve room.
  bool (*reserve)(Handle handle, std::uint64_t size);
  // Cuts a file opened by open_in_place to `size` bytes (true for a device
  // or a pipe).
  bool (*set_length)(Handle handle, std::uint64_t size);

  // Today's date on the local calendar.
  LocalDate (*local_date)();

  // Swaps one of the system calls this implementation makes, by the
  // system's own name ("ReplaceFileA"), for `call`, or puts the system's own
  // back when `call` is null, as SQLite's xSetSystemCall does. Returns the
  // call that was in place, or null for a name this implementation does not
  // route through its table. Only for tests: a failure that no real
  // condition can be made to give on demand (a replace that stops half-way,
  // a file system that cannot name a file's path).
  SystemCall (*system_call)(const char* name, SystemCall call);
};

const Api& Native();
Api& Current();

}  // namespace quorvel::platform

#endif  // QUORVEL_PLATFORM_PLATFORM_H
