/*
 * A 32-bit Windows host built as the README shows: through quorvel.h and the
 * import library Quorvel.lib, with kernel32 and nothing else. The same source
 * is built by clang-cl and lld-link without any C runtime (entry HostEntry),
 * and by mingw-w64 gcc with its own (entry main).
 *
 * It makes all three calls and checks their results, the messages, the files
 * and every byte of its 256-byte buffers, which it poisons before each call so
 * that a byte the library left alone can be told from one it wrote. Then it
 * loads the DLL again at run time, by name and by ordinal, and checks that it
 * finds the functions it was linked to.
 *
 * Run in a folder holding invoices.txt, returned.xml and expected.txt (what
 * returned.xml converts to). Prints a line for each failed check and a
 * summary; the exit status is the number of failed checks.
 */
#include "quorvel.h"

/* kernel32, declared here: the host needs no Windows SDK headers. */
typedef void *HANDLE;
typedef void *HMODULE;
typedef const char *LPCSTR;
typedef int(__stdcall *FARPROC)();
#define KERNEL32 __declspec(dllimport)
KERNEL32 HANDLE __stdcall GetStdHandle(unsigned long which);
KERNEL32 HANDLE __stdcall CreateFileA(LPCSTR name, unsigned long access, unsigned long share,
                                      void *security, unsigned long disposition,
                                      unsigned long flags, HANDLE model);
KERNEL32 int __stdcall ReadFile(HANDLE file, void *data, unsigned long size, unsigned long *done,
                                void *overlapped);
KERNEL32 int __stdcall WriteFile(HANDLE file, const void *data, unsigned long size,
                                 unsigned long *done, void *overlapped);
KERNEL32 int __stdcall CloseHandle(HANDLE handle);
KERNEL32 unsigned long __stdcall GetFileAttributesA(LPCSTR name);
KERNEL32 HMODULE __stdcall LoadLibraryA(LPCSTR name);
KERNEL32 FARPROC __stdcall GetProcAddress(HMODULE module, LPCSTR name);
KERNEL32 void __stdcall ExitProcess(unsigned int code);
#define STD_OUTPUT_HANDLE ((unsigned long)-11)
#define GENERIC_READ 0x80000000ul
#define FILE_SHARE_READ 1ul
#define OPEN_EXISTING 3ul
#define INVALID_HANDLE_VALUE ((HANDLE)(long)-1)
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFul

#define POISON 0x5A
#define ROWS_POISON 0x5A5A5A5A

static const char kNsr[] = "913101157178123456";
/* The sample company's name in GBK. */
static const char kQymc[] =
    "\xc9\xcf\xba\xa3\xc3\xf7\xd4\xb6\xb5\xe7\xd7\xd3\xbf\xc6\xbc\xbc\xd3\xd0\xcf\xde\xb9\xab\xcb\xbe";

static int checks;
static int failures;

static unsigned long Length(const char *text) {
  unsigned long n = 0;
  while (text[n] != '\0') ++n;
  return n;
}

static void Print(const char *text) {
  unsigned long done;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, Length(text), &done, 0);
}

/* Counts a check; prints "FAIL: what[: detail]" for a failed one. */
static void CheckThat(int ok, const char *what, const char *detail) {
  ++checks;
  if (ok) return;
  ++failures;
  Print("FAIL: ");
  Print(what);
  if (detail) {
    Print(": ");
    Print(detail);
  }
  Print("\n");
}

static void Check(int ok, const char *what) { CheckThat(ok, what, 0); }

/* The two byte loops write through a volatile pointer, so that no compiler
 * turns them into calls of the C runtime's memset and memcpy. */
static void Poison(char *buffer) {
  volatile char *p = buffer;
  int i;
  for (i = 0; i < QUORVEL_BUFFER_SIZE; ++i) p[i] = (char)POISON;
}

static void Copy(char *to, const char *from, int count) {
  volatile char *p = to;
  int i;
  for (i = 0; i < count; ++i) p[i] = from[i];
}

/* The buffer holds `text`, a NUL, and untouched poison after it. */
static int Holds(const char *buffer, const char *text) {
  unsigned long n = Length(text), i;
  for (i = 0; i < n; ++i) {
    if (buffer[i] != text[i]) return 0;
  }
  if (buffer[n] != '\0') return 0;
  for (i = n + 1; i < QUORVEL_BUFFER_SIZE; ++i) {
    if (buffer[i] != (char)POISON) return 0;
  }
  return 1;
}

static int Untouched(const char *buffer) {
  int i;
  for (i = 0; i < QUORVEL_BUFFER_SIZE; ++i) {
    if (buffer[i] != (char)POISON) return 0;
  }
  return 1;
}

/* The last-error text, fetched into a poisoned buffer, is `text`. */
static int LastErrorIs(const char *text) {
  char message[QUORVEL_BUFFER_SIZE];
  Poison(message);
  return Quorvel_GetLastError(message) == QUORVEL_RESULT_OK && Holds(message, text);
}

static int Exists(const char *name) { return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES; }

/* Reads a whole small file into `data`; returns its size, or -1. */
static long Load(const char *name, char *data, unsigned long capacity) {
  unsigned long size = 0, done = 0;
  HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
  if (file == INVALID_HANDLE_VALUE) return -1;
  while (size < capacity && ReadFile(file, data + size, capacity - size, &done, 0) && done > 0) {
    size += done;
  }
  CloseHandle(file);
  return size < capacity ? (long)size : -1;
}

static char first[16384];
static char second[16384];

static int SameFiles(const char *a, const char *b) {
  long n = Load(a, first, sizeof first), m = Load(b, second, sizeof second), i;
  if (n < 0 || n != m) return 0;
  for (i = 0; i < n; ++i) {
    if (first[i] != second[i]) return 0;
  }
  return 1;
}

/* `part` occurs in the file at byte `at` (-1: anywhere). */
static int FileHas(const char *name, const char *part, long at) {
  long n = Load(name, first, sizeof first), k = (long)Length(part), i, j;
  for (i = at < 0 ? 0 : at; i + k <= n; ++i) {
    for (j = 0; j < k && first[i + j] == part[j]; ++j) {
    }
    if (j == k) return 1;
    if (at >= 0) return 0;
  }
  return 0;
}

static void FailedCalls(void) {
  char message[QUORVEL_BUFFER_SIZE];
  char nsr[QUORVEL_BUFFER_SIZE];
  char reserved[QUORVEL_BUFFER_SIZE];
  char name[301];
  char cut[QUORVEL_BUFFER_SIZE];
  int32_t rows = ROWS_POISON;
  int i;

  Poison(message);
  Check(Quorvel_GetLastError(message) == QUORVEL_RESULT_OK && Holds(message, ""),
        "a freshly loaded library has no message");

  Check(Quorvel_TXT2XML("missing.txt", "never.xml", 100, kNsr, kQymc) == QUORVEL_RESULT_FAILED,
        "TXT2XML of a missing file fails");
  Check(LastErrorIs("Cannot open file missing.txt"), "the message of a missing input");
  Check(LastErrorIs("Cannot open file missing.txt"), "fetching the message keeps it");
  Check(!Exists("never.xml"), "a failed TXT2XML writes no file");

  /* A message longer than 255 bytes is cut there, with NUL at byte 255. */
  for (i = 0; i < 300; ++i) name[i] = (char)('a' + i % 26);
  name[300] = '\0';
  Copy(cut, "Cannot open file ", 17);
  Copy(cut + 17, name, 255 - 17);
  cut[255] = '\0';
  Check(Quorvel_TXT2XML(name, "never.xml", 100, kNsr, kQymc) == QUORVEL_RESULT_FAILED,
        "TXT2XML of a long missing name fails");
  Check(LastErrorIs(cut), "a long message is cut to 255 bytes");

  Poison(nsr);
  Poison(reserved);
  Check(Quorvel_XML2TXT("missing.xml", "never.txt", 0, &rows, nsr, reserved) ==
            QUORVEL_RESULT_FAILED,
        "XML2TXT of a missing file fails");
  Check(LastErrorIs("Cannot open file missing.xml"), "the message of a missing document");
  Check(rows == ROWS_POISON && Untouched(nsr) && Untouched(reserved),
        "a failure before the header leaves RowsCount and both buffers untouched");
  Check(!Exists("never.txt"), "a failed XML2TXT writes no file");
}

/* XML2TXT of a document of the four sample rows, into poisoned outputs: the
 * result, no message, and RowsCount, NsrBuffer and ReservedBuffer filled. */
static void SampleXml2Txt(const char *input, const char *output, int32_t result,
                          const char *what) {
  char nsr[QUORVEL_BUFFER_SIZE];
  char reserved[QUORVEL_BUFFER_SIZE];
  int32_t rows = ROWS_POISON;
  Poison(nsr);
  Poison(reserved);
  CheckThat(Quorvel_XML2TXT(input, output, 0, &rows, nsr, reserved) == result, what, "result");
  CheckThat(LastErrorIs(""), what, "a message was left");
  CheckThat(rows == 4 && Holds(nsr, kNsr) && Holds(reserved, ""), what,
            "RowsCount, NsrBuffer and ReservedBuffer");
}

static void Conversions(void) {
  Check(Quorvel_TXT2XML("invoices.txt", "invoices.xml", 100, kNsr, kQymc) == QUORVEL_RESULT_OK,
        "TXT2XML of the sample invoices");
  Check(LastErrorIs(""), "a successful TXT2XML leaves no message");
  Check(FileHas("invoices.xml",
                "<?xml version=\"1.0\"  encoding=\"GBK\"?>\r\n"
                "<!-- DOCTYPE RZ00100 SYSTEM \"RZ00100.dtd\" -->\r\n",
                0),
        "the document's first lines");
  Check(FileHas("invoices.xml", "  <nsr>913101157178123456</nsr>\r\n", -1), "the nsr line");
  Check(FileHas("invoices.xml", "  <rows>4</rows>\r\n", -1), "the rows line");

  /* The document just made has no jg and rq values: every row is incomplete,
   * so XML2TXT fails without a message, having filled all three outputs. */
  SampleXml2Txt("invoices.xml", "incomplete.txt", QUORVEL_RESULT_FAILED,
                "XML2TXT of rows lacking values");
  Check(!Exists("incomplete.txt"), "incomplete rows write no file");

  SampleXml2Txt("returned.xml", "returned.txt", QUORVEL_RESULT_OK,
                "XML2TXT of the returned sample");
  Check(SameFiles("returned.txt", "expected.txt"), "returned.txt, byte for byte");
}

/* Loading at run time finds, by name and by ordinal, the very functions the
 * import library bound. */
static void RunTimeLoading(void) {
  typedef int32_t(__stdcall * Txt2XmlFn)(const char *, const char *, int32_t, const char *,
                                         const char *);
  HMODULE quorvel = LoadLibraryA("Quorvel.dll");
  Txt2XmlFn txt2xml = (Txt2XmlFn)GetProcAddress(quorvel, "Quorvel_TXT2XML");
  Txt2XmlFn txt2xml_by_ordinal = (Txt2XmlFn)GetProcAddress(quorvel, (LPCSTR)2);

  Check(quorvel != 0, "LoadLibraryA(\"Quorvel.dll\")");
  Check(txt2xml == Quorvel_TXT2XML && txt2xml_by_ordinal == Quorvel_TXT2XML,
        "Quorvel_TXT2XML by name and at ordinal 2");
  Check((void *)GetProcAddress(quorvel, "Quorvel_GetLastError") == (void *)Quorvel_GetLastError &&
            (void *)GetProcAddress(quorvel, (LPCSTR)1) == (void *)Quorvel_GetLastError,
        "Quorvel_GetLastError by name and at ordinal 1");
  Check((void *)GetProcAddress(quorvel, "Quorvel_XML2TXT") == (void *)Quorvel_XML2TXT &&
            (void *)GetProcAddress(quorvel, (LPCSTR)3) == (void *)Quorvel_XML2TXT,
        "Quorvel_XML2TXT by name and at ordinal 3");
}

static int Run(void) {
  static char summary[] = "win32 host: 00 checks, 00 failed\n";
  FailedCalls();
  Conversions();
  RunTimeLoading();
  summary[12] = (char)('0' + checks / 10 % 10);
  summary[13] = (char)('0' + checks % 10);
  summary[23] = (char)('0' + failures / 10 % 10);
  summary[24] = (char)('0' + failures % 10);
  Print(summary);
  return failures;
}

int main(void) { return Run(); }

void __stdcall HostEntry(void) { ExitProcess((unsigned int)Run()); }
