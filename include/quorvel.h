/*
** quorvel.h: the C interface of the Quorvel library.
**
** Quorvel moves VAT special-invoice data between two file forms: a
** tab-separated text file (one invoice a line) and a line-oriented XML
** exchange document declared as GBK. Every conversion is synchronous, runs on
** the caller's thread and goes from one file to another. The input is read on
** the caller's thread; while a large file converts, its finished output is
** written behind it on a thread of the call's own (on Windows a second one
** flushes it to the disk as it goes), started by the call and ended before it
** returns (so, as with any call that waits for a thread, never convert from
** inside DllMain). Where no thread can be started the call does that work
** itself.
**
** All texts are bytes. Paths and values are passed as NUL-terminated byte
** strings and used exactly as given (GBK or another ANSI code page); nothing
** converts between character sets. A null text pointer counts as the empty
** text.
**
** The library never allocates memory for the host and never hands out a
** pointer: every text that goes out is copied into a buffer the host owns.
** Its own memory does not grow with the files: they are read through a
** small window, so inputs of any size convert in a 32-bit process too (an
** input that cannot be read twice, such as a pipe, is held whole).
**
** Calls must not overlap. The library keeps one process-wide last-error slot
** without a lock, so the host makes its calls one at a time, from whichever
** threads it likes.
**
** The library checks none of the host's pointers: buffers shorter than
** QUORVEL_BUFFER_SIZE, invalid pointers and unterminated strings are outside
** the contract, and a fault they cause is not caught.
*/
#ifndef QUORVEL_H
#define QUORVEL_H

#include <stdint.h>

/*
** The version of this header and of the library it comes with. A host can
** compare QUORVEL_VERSION_MAJOR with the one it was written for: within one
** major version the three functions and their behaviour stay as described.
*/
#define QUORVEL_VERSION_MAJOR 1
#define QUORVEL_VERSION_MINOR 1
#define QUORVEL_VERSION_PATCH 0
#define QUORVEL_VERSION "1.1.0"

/*
** QUORVEL_CALL is the calling convention of the three functions: stdcall on
** 32-bit Windows (the callee removes its arguments), the platform's default
** convention everywhere else.
*/
#if defined(_WIN32) && !defined(_WIN64)
#define QUORVEL_CALL __stdcall
#else
#define QUORVEL_CALL
#endif

/*
** QUORVEL_API exports the functions from the library and imports them into
** a host. Define QUORVEL_STATIC when linking the library's objects directly.
*/
#if defined(QUORVEL_STATIC)
#define QUORVEL_API
#elif defined(_WIN32)
#if defined(QUORVEL_BUILDING)
#define QUORVEL_API __declspec(dllexport)
#else
#define QUORVEL_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define QUORVEL_API __attribute__((visibility("default")))
#else
#define QUORVEL_API
#endif

/*
** Result codes. Every function returns one of these two values and nothing
** else. QUORVEL_RESULT_FAILED has all 32 bits set: a host that keeps only the
** low byte sees 255.
*/
#define QUORVEL_RESULT_OK 1
#define QUORVEL_RESULT_FAILED (-1)

/*
** The size of every buffer the library writes into: at most 255 bytes of text
** followed by one NUL byte.
*/
#define QUORVEL_BUFFER_SIZE 256

#ifdef __cplusplus
extern "C" {
#endif

/*
** Quorvel_GetLastError (ordinal 1): the message of the most recent failure.
**
** Copies the last-error text into MessageBuffer, which must hold at least
** QUORVEL_BUFFER_SIZE bytes. A text of n bytes, n at most 255, fills bytes 0
** to n-1 and puts NUL at byte n; a longer text is cut to its first 255 bytes
** with NUL at byte 255. The cut counts bytes, so a double-byte GBK character
** can lose its second byte. Bytes after the NUL are not written. When no
** failure is on record, a single NUL is written at byte 0 and nothing else.
**
** The last-error text is empty after the library is loaded, is emptied at the
** start of every conversion call, and receives the whole message of a
** conversion that fails. Fetching does not change it, so two fetches give the
** same text. Fetch the message after the failed conversion and before the
** next conversion call, which clears it.
**
** The fetch opens no file, allocates nothing and always returns
** QUORVEL_RESULT_OK.
*/
QUORVEL_API int32_t QUORVEL_CALL Quorvel_GetLastError(char *MessageBuffer);

/*
** Quorvel_TXT2XML (ordinal 2): text file to exchange document.
**
** Reads InputFileName, a text file of one invoice per line with TAB-separated
** fields (lines end in CR, LF or CR LF), and writes the exchange document to
** OutputFileName, every line ending in CR LF. A line of 10 fields becomes a
** full row, a line of 8 fields a short row, any other line an empty row; every
** line counts in the document's row count.
**
** DocumentTypeCode selects the document's title (100 and 102 have their own,
** every other value the "unknown data file" title) and is written in decimal
** after "RZ00". NsrText and QymcText are written unchanged into the nsr and
** qymc header elements. The document is dated with today's local date.
**
** Returns QUORVEL_RESULT_OK, or QUORVEL_RESULT_FAILED with a message for
** Quorvel_GetLastError, for example "Cannot open file <path>",
** "Cannot create file <path>", "'<text>' is not a valid integer value" (a
** ninth field of a full row that is neither "A..." nor an integer),
** "Stream write error" or "Out of memory".
**
** The output file is written only when the whole conversion succeeds: after
** a failure of the conversion an existing file at OutputFileName is exactly
** as it was. A regular file is replaced in one step, keeping its owner and
** permissions (on Windows its attributes and access list, not its owner),
** so that holds after any failure. A file that a new file could not stand
** in for (another user's, one with a second hard link or an access list, one
** in a folder where the caller may not create files, one a process holds
** open through /dev/fd), a device or a pipe is written in place. Room for
** it is reserved first where the file system can, so a full disk leaves it
** unchanged; another failure while writing can leave it partly written.
** Output for a device or a pipe waits in a spool in the system's temporary
** folder, which needs room for all of it. Symbolic links are followed: the
** file a link names is written and the link stays.
*/
QUORVEL_API int32_t QUORVEL_CALL Quorvel_TXT2XML(const char *InputFileName,
                                                 const char *OutputFileName,
                                                 int32_t DocumentTypeCode,
                                                 const char *NsrText,
                                                 const char *QymcText);

/*
** Quorvel_XML2TXT (ordinal 3): returned exchange document to text file.
**
** Reads the exchange document InputFileName, gives the host its row count and
** nsr text, and writes one TAB-separated line for each row to OutputFileName:
** dm, hm, gf, xf, kr (as yyyy/mm/dd), je, se, mw (unescaped), sy (in
** decimal, or as found when it begins with "A"), jg, rq (as yyyy/mm/dd).
**
**   Reserved        never read; pass 0.
**   RowsCount       receives the value of the rows header element as soon as
**                   it has been read, before any row is.
**   NsrBuffer       receives the nsr header value (at most 255 bytes and a
**                   NUL) after the last row has been read.
**   ReservedBuffer  receives a single NUL byte at that same moment.
** Both buffers must hold at least QUORVEL_BUFFER_SIZE bytes; a failure before
** the moment a buffer is written leaves it untouched.
**
** Returns QUORVEL_RESULT_OK when every row was complete and the file was
** written. QUORVEL_RESULT_FAILED comes in two kinds:
**   - with a message (Quorvel_GetLastError gives a non-empty text): the
**     conversion stopped at a failure, for example "Cannot open file <path>",
**     "List index out of bounds (<n>)" (the document ended before a wanted
**     line), "'<text>' is not a valid integer value" or
**     "Cannot create file <path>";
**   - without a message (Quorvel_GetLastError gives the empty text): every
**     announced row was read, but at least one lacked one of its eleven
**     values, so no output file was written. RowsCount, NsrBuffer and
**     ReservedBuffer are filled in this case.
** An existing file at OutputFileName is written only on QUORVEL_RESULT_OK,
** as described for Quorvel_TXT2XML.
*/
QUORVEL_API int32_t QUORVEL_CALL Quorvel_XML2TXT(const char *InputFileName,
                                                 const char *OutputFileName,
                                                 int32_t Reserved,
                                                 int32_t *RowsCount,
                                                 char *NsrBuffer,
                                                 char *ReservedBuffer);

#ifdef __cplusplus
}
#endif

#endif /* QUORVEL_H */
