// What the command line needs of the operating system: its own arguments, file names as the library
// takes them, private temporary files, and standard streams that carry bytes unchanged.
//
// system_posix.cpp and system_win32.cpp implement this; the build picks one.
// The program's entry point is main.cpp's, the same on both.
#ifndef QUORVEL_TOOLS_SYSTEM_SYSTEM_H
#define QUORVEL_TOOLS_SYSTEM_SYSTEM_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "charset/charset.h"

namespace quorvel::cli {

// The arguments after the program's name: natively the bytes given; on
// Windows the UTF-16 command line (GetCommandLineW), as UTF-8. False, with
// the reason, when an argument is not valid UTF-16.
bool CommandLineArguments(int argc, char** argv, std::vector<std::string>* arguments,
                          std::string* why);

// The character set of the arguments and of what the program shows: UTF-8
// where the command line arrives as Unicode (Windows, whose UTF-16 arguments
// are UTF-8 here) or the locale's character set is UTF-8; otherwise kGbk,
// meaning bytes as they are (a GBK locale, or C). Values are converted from
// it to GBK, and the document's text shown converted back.
Charset ArgumentCharset();

// The system's text for an error number the library or the C library gave:
// an errno value natively; on Windows a system error code.
std::string SystemErrorText(int error);

// Whether standard error is a terminal (a console on Windows).
bool StandardErrorIsTerminal();

// An argument naming a file, as the library and the C library take it:
// natively the bytes given; on Windows the name in the system's ANSI code
// page. False, with the reason, when a character has no form there.
bool NativePath(std::string_view argument, std::string* path, std::string* why);

// Creates a new, empty file that only this user may read or write, in the
// system's folder for temporary files, open for reading and writing as the
// stream returned; null, with the reason, when it cannot. `*path` is how the
// library is to reach the file.
//
// Natively the file has no name in the folder, from the start where the
// file system can (O_TMPFILE), else from the moment it is made, with the
// ending signals held off until then: no one can put a link in its place,
// and nothing is left behind however the program ends. `*path` is then the
// open file itself (/proc/self/fd/N, or /dev/fd/N), which the library opens
// as a file held open (written in place) and which lives as long as the
// stream. Where the system has no such path (no /proc), the file is named
// inside a folder made for it alone (mkdtemp, 0700), both on the list that
// an interruption removes; a kill leaves them.
//
// On Windows, where the library opens names only, the file has one: made
// exclusively, with an access list that admits this user alone, and on the
// list that an interruption removes. Nothing else may open it while the
// stream is open (the library included): OpenPrivateFile for writing takes
// the stream over, ReleasePrivateFile closes it.
std::FILE* CreatePrivateFile(std::string* path, std::string* why);
// Another stream on the private file `*file` (at `path`), mode "rb" from
// its first byte, or "wb" for the content this program writes: natively a
// duplicate of the descriptor. On Windows "wb" takes `*file` over (null
// after), and "rb" opens `path` again, for the library may have replaced the
// file. Null, with errno set, when it cannot.
std::FILE* OpenPrivateFile(std::FILE** file, const std::string& path, const char* mode);
// Lets the library open the private file `*file`: on Windows closes the
// stream (null after); natively keeps it, the file living as long as it does.
void ReleasePrivateFile(std::FILE** file);
// Removes the name of a file CreatePrivateFile made, and takes it off the
// list of those an interruption removes: natively there is none to remove.
// False when the system refused (on Windows, a file that is open without
// sharing).
bool RemoveFile(const std::string& path);

// A path by which the library writes standard output itself, through one
// spool of its own, as this program would: natively where standard output
// is a pipe, a terminal or another device. Empty where it is not (a regular
// file, written at the shell's offset or appending; a socket; closed; on
// Windows): the output then goes through a private file.
std::string StandardOutputPath();
// A device that takes any output and keeps none (/dev/null), for a
// conversion whose output is not wanted; empty where there is none to be
// relied on (Windows), a private file then taking the output.
std::string DiscardPath();

// Opens `path` (as NativePath gives it) in binary mode, "rb" or "wb" as
// fopen does; null, with errno set, when it cannot. On Windows every kind of
// sharing is allowed, removal included, so that a private file can be
// removed while it is open (it goes when its last handle is closed).
std::FILE* OpenBinaryFile(const std::string& path, const char* mode);

// Whether `file` is a regular file, which the library can read again after
// this program did: not a pipe, a terminal, a device or a folder.
bool IsRegularFile(std::FILE* file);

// Run first. Standard input and output carry bytes unchanged (binary mode on
// Windows). A write to a pipe whose reader has gone fails like any other
// write instead of ending the program (POSIX: SIGPIPE is ignored). An
// interrupt, a hang-up or a termination request (SIGINT, SIGHUP, SIGTERM; on
// Windows the console's control events) removes the temporary files on the
// list (the library's beside its target; on Windows the private ones too)
// before the program ends as it would have; one that is open at that moment
// stays on Windows, which does not remove open files.
void PrepareProcess();

// While `deferred`, an interrupt, a hang-up or a termination request waits:
// it takes effect once DeferEnding(false) is called. For the time the
// library writes a target in place, which an ending would leave partly
// written. Safe to call from the converting thread only.
void DeferEnding(bool deferred);

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_SYSTEM_SYSTEM_H
