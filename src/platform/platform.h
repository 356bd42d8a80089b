// The only door to the operating system: files opened, read, written,
// flushed, renamed and removed, what the system knows of a file, the local
// date.
//
// Two implementations share this interface, platform_posix.cpp and
// platform_win32.cpp; the build picks one, so nothing above this layer has an
// #ifdef or includes an OS header. Calls go through a table of function
// pointers (like SQLite's VFS) so that tests can inject I/O faults and pin the
// clock: Current() is what the library uses, Native() the real system.
//
// These are primitives: how a file is saved is decided above (io/save.h).
// Nothing here raises a failure. Each call returns the system's own error
// number (errno on POSIX, GetLastError() on Windows), 0 for success; read and
// write return the count of bytes moved, or that number negated.
#ifndef QUORVEL_PLATFORM_PLATFORM_H
#define QUORVEL_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvel::platform {

// An open file: a POSIX descriptor or a Win32 HANDLE, widened.
using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;

// The system's error number; 0 for none.
using Error = int;

struct InputInfo {
  bool sized = false;      // a regular file: `size` is its length
  std::uint64_t size = 0;  // otherwise read until the end of the stream
};

enum class FileType {
  kRegular,
  kFolder,
  kLink,   // the link itself, opened without following it
  kOther,  // a device, a pipe, a socket
};

// What the system knows of one file, read from a descriptor.
struct FileInfo {
  FileType type = FileType::kOther;
  // With `file`, names the file (POSIX: st_dev and st_ino; Windows: the
  // volume's serial number and the file index).
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  std::uint32_t links = 1;
  // POSIX: owner, group and permission bits (07777). 0 on Windows.
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
  std::uint32_t mode = 0;
  // Windows: the file's attributes (FILE_ATTRIBUTE_*). 0 on POSIX.
  std::uint32_t attributes = 0;
  // Extended attributes a new file would not be given: any but the security
  // label, which the system gives a new file by its own policy (POSIX; an
  // access list is one). Always false on Windows.
  bool extended = false;
};

// Where a path leads, links followed as the system follows them (loops,
// permissions and fs.protected_symlinks included).
struct Resolved {
  // Something is there. When nothing is, `path` is where a file created at
  // the path would be: the path as given, or for a link to nothing the
  // destination the system creates the file at (`named`), or, where the
  // system cannot name it, the path as given (not `named`).
  bool found = false;
  FileInfo info;  // of what is there
  // The path of what is there, links resolved, where the path is a link the
  // system followed to a regular file and can name its destination; the
  // path as given otherwise.
  std::string path;
  bool named = true;  // false: a link to a file the system cannot name
  // The path ends, links followed, in a link of the process table
  // (/proc/PID/fd/N, reached as /dev/fd/N or /dev/stdout): what it names is
  // a file a process holds open.
  bool held_open = false;
};

// One of the system's own calls, cast to and from its real type: see
// Api::system_call.
using SystemCall = void (*)();

// Told each name under which a temporary file is about to be created, before
// the file exists (held true), and again when that name turned out to be
// taken (held false): a host interrupted at any moment then knows the name
// of every file it may have to remove. Must not raise.
struct TempNaming {
  void (*tell)(void* context, const std::string& name, bool held);
  void* context;
};

struct LocalDate {
  int year;
  int month;  // 1-12
  int day;    // 1-31
};

// What the caller may do at a path, as Api::check_access asks.
enum class Access {
  kWrite,     // write to the file
  kCreateIn,  // create and remove names in the folder
};

struct Api {
  // The characters that end a folder's name in a path ("/"; "\\/:" on
  // Windows).
  const char* separators;

  // Opens an existing file for reading. Refuses folders. On Windows others
  // may read the file meanwhile, not write it; POSIX has no such sharing
  // rule, so there the file is not protected.
  Error (*open_for_read)(const char* path, Handle* handle, InputInfo* info);
  // Reads up to `size` bytes: the count read (0 at the end), or minus the
  // error number.
  std::ptrdiff_t (*read)(Handle handle, char* buffer, std::size_t size);
  // Moves a file opened by open_for_read back to its first byte.
  Error (*rewind)(Handle handle);
  // Writes up to `size` bytes: the count written, or minus the error number.
  // A pipe whose reader has gone fails with EPIPE and raises no signal: the
  // calling thread does not see a SIGPIPE that this write caused.
  std::ptrdiff_t (*write)(Handle handle, const char* bytes, std::size_t size);
  // Closes a handle; an error when the system reports that data was lost.
  Error (*close)(Handle handle);

  // Makes what was written through `handle` durable (fsync,
  // FlushFileBuffers). 0 for a handle that has nothing to flush (a device,
  // a pipe).
  Error (*flush)(Handle handle);
  // Asks the system to start writing [offset, offset + size) of `handle` to
  // the disk now, without waiting: the flush at the end then finds most of
  // a large output already written, the disk having worked while the
  // conversion did. A hint only; never fails. False where the system has no
  // such call (Windows; POSIX systems other than Linux): the caller may
  // then flush on a thread of its own instead.
  bool (*start_writeback)(Handle handle, std::uint64_t offset, std::uint64_t size);
  // Tells the system that what it caches of the existing file at `path`,
  // which a new file is about to replace, is no longer wanted. Rewriting the
  // file in place would let go of those pages at once; keeping them while
  // the new file's pages fill doubles the memory a large save holds, and
  // the new pages then come from memory not touched for a while, which
  // costs far more to fill (on a virtual machine above all). The file's
  // content is untouched: bytes not yet on the disk are written first. A
  // hint only; never fails, may do nothing.
  void (*release_cache)(const char* path);

  // Says where `path` leads. Leaves the file system as it was: the file that
  // following a link to nothing creates, to learn where it would be, is
  // removed again at once (only if it is still empty and still the one at
  // that name). ENOENT/ERROR_FILE_NOT_FOUND is no error: nothing is there.
  Error (*resolve)(const char* path, Resolved* resolved);
  // Opens what `path` names, without following a link in its last part (the
  // link itself), with no access to its content: only to describe it.
  Error (*open_path)(const char* path, Handle* handle);
  // What the system knows of the file open as `handle`.
  Error (*describe)(Handle handle, FileInfo* info);
  // What the caller may do at `path` (POSIX: with its effective ids for a
  // folder, its real ids for a file, as the system's access checks do;
  // Windows: a read-only file or a folder may not be written, and any folder
  // takes new names as far as can be told beforehand).
  Error (*check_access)(const char* path, Access access);

  // Creates a new, empty file exclusively under `prefix` + ".~XXXXXXXX.tmp",
  // eight random hexadecimal digits, a fresh name for each attempt while the
  // name is taken. Readable and writable, not shared. When `owner_only`
  // (the file is to replace the one at `prefix`), POSIX makes it readable by
  // its owner only; Windows gives it the access list of the file at
  // `prefix`, or where that cannot be read, one that grants the caller
  // alone. Otherwise it has the permissions or access list the folder gives
  // a new file. `naming`, when given, is told each name before it is tried.
  // The name made goes to `name`.
  Error (*create_temp)(const char* prefix, bool owner_only, const TempNaming* naming,
                       Handle* handle, std::string* name);
  // Opens a new, unnamed scratch file in the system's temporary folder,
  // readable and writable, deleted when it is closed. Holds output that is
  // copied elsewhere later.
  Error (*open_spool)(Handle* handle);
  // Gives the file open as `handle` an owner and group (POSIX; a change of
  // owner clears setuid and setgid). Nothing on Windows, where ReplaceFileA
  // carries the access list over and the caller stays the owner.
  Error (*set_owner)(Handle handle, std::uint32_t owner, std::uint32_t group);
  // Gives the file open as `handle` the permission bits (POSIX) or the
  // attributes (Windows: archive, hidden, system, not indexed) of `from`.
  // POSIX may drop setgid silently where the caller may not have it.
  Error (*set_attributes)(Handle handle, const FileInfo& from);
  // Puts the closed file `temp_path` in the place of `target_path` in one
  // step (written through to the disk where the system offers it). A sharing
  // conflict on Windows is retried a few times. `stranded` becomes true when
  // the system removed the target and then could not give the temporary
  // file its name: the new content exists only under the temporary name.
  Error (*replace)(const char* temp_path, const char* target_path, bool* stranded);
  // Makes the latest change of name in `folder` durable (POSIX: fsync of the
  // folder; Windows: nothing, the move was written through).
  Error (*sync_folder)(const char* folder);
  // Deletes a file.
  Error (*remove)(const char* path);
  // Opens `path` for writing in place, at its first byte: opens an existing
  // file as it is, keeping its content (until it is written over), owner,
  // permissions and links; not shared with another writer meanwhile (POSIX:
  // a write lock on a regular file, waited for 0.3 s at most; Windows: a
  // read-only file is refused). With `expected`, only the file it describes
  // (the same device and file number) is opened and nothing is created:
  // should the path lead to another file now, that one is left untouched and
  // the call returns 0 with `*handle` kNoHandle. Without, a file is created
  // when none is there. A FIFO with no reader is never waited for, except
  // the expected one where the system can reopen a file it has looked at
  // (POSIX with /proc): that one is waited for as any writer waits.
  Error (*open_in_place)(const char* path, const FileInfo* expected, Handle* handle);
  // Makes sure a file opened by open_in_place has room for `size` bytes
  // before anything is written over its content, so that a full disk is met
  // while the file is still whole: its content stays as it is (Windows
  // lengthens a shorter file with zeros). 0 for a device or a pipe, and
  // where the file system has no way to reserve room.
  Error (*reserve)(Handle handle, std::uint64_t size);
  // Cuts a file opened by open_in_place to `size` bytes (0 for a device or
  // a pipe).
  Error (*set_length)(Handle handle, std::uint64_t size);

  // Runs job(context) with every signal blocked in the calling thread, then
  // puts the thread's mask back (also when the job raises). A thread started
  // by the job inherits the mask, so that no signal meant for the host is
  // ever handled on the library's own threads. Windows: just runs the job.
  void (*with_signals_blocked)(void (*job)(void* context), void* context);

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
