// What only a Windows host sees of Quorvel.dll: the stdcall contract at the
// machine level (32-bit), lookup by ordinal, and the sharing modes of the
// files it opens.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/files.h"
#include "support/library.h"

#if !defined(_WIN64)
extern "C" int32_t QuorvelProbeCall(const void* fn, const uint32_t* args, int32_t count,
                                    int32_t* stack_change, int32_t skew);
#endif

namespace {

using qtest::ReadFile;
using qtest::RunUnix;
using qtest::WriteFile;

#if !defined(_WIN64)
uint32_t Arg(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

extern "C" int32_t __cdecl LeavesItsArguments(int32_t a, int32_t b) { return a + b; }

// Calls `fn` with `args` through the probe, the stack `skew` bytes off.
template <typename Fn, std::size_t N>
int32_t ProbeCall(Fn* fn, const uint32_t (&args)[N], int32_t* change, int32_t skew = 0) {
  return QuorvelProbeCall(reinterpret_cast<const void*>(fn), args, static_cast<int32_t>(N), change,
                          skew);
}
#endif

// A document as the tax system returns it: each row's bb gives way to jg and rq.
std::string Returned(std::string doc, const std::string& jg) {
  for (std::size_t at; (at = doc.find("   <bb>B</bb>\r\n")) != std::string::npos;) {
    doc.replace(at, 15, "   <jg>" + jg + "</jg>\r\n   <rq>20261207</rq>\r\n");
  }
  return doc;
}

class Win32Test : public qtest::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    ASSERT_TRUE(lib_.loaded());
  }
  std::string Message() { return lib_.LastError(); }
  qtest::Library lib_;
};

#if !defined(_WIN64)
// x64 has one calling convention, the caller's: nothing to probe there.
TEST_F(Win32Test, TheCalleeRemovesItsArguments) {
  int32_t change = 1;
  // The probe can tell: a cdecl function leaves 8 bytes behind.
  const uint32_t two[] = {40, 2};
  EXPECT_EQ(ProbeCall(&LeavesItsArguments, two, &change), 42);
  EXPECT_EQ(change, -8);

  char message[256];
  const uint32_t fetch[] = {Arg(message)};
  EXPECT_EQ(ProbeCall(lib_.get_last_error, fetch, &change), 1);
  EXPECT_EQ(change, 0);  // 4 bytes removed

  WriteFile("in.txt", "a\tb");
  const uint32_t txt2xml[] = {Arg("in.txt"), Arg("out.xml"), 100, Arg("N"), Arg("Q")};
  EXPECT_EQ(ProbeCall(lib_.txt2xml, txt2xml, &change), 1);
  EXPECT_EQ(change, 0);  // 20 bytes removed

  int32_t rows = 0;
  char nsr[256], reserved[256];
  const uint32_t xml2txt[] = {Arg("out.xml"), Arg("out.txt"), 0xDEADBEEF,
                              Arg(&rows),     Arg(nsr),       Arg(reserved)};
  // The row has no elements: incomplete.
  EXPECT_EQ(ProbeCall(lib_.xml2txt, xml2txt, &change), -1);
  EXPECT_EQ(change, 0);  // 24 bytes removed
  EXPECT_EQ(rows, 1);
  EXPECT_STREQ(nsr, "N");
}

// Inside, the library counts on a 16-byte aligned stack; a host's call may
// come on any 4-byte boundary, and the exports realign it. In xml2txt,
// values of 17 bytes and more take a vector routine that keeps 16-byte
// constants on the stack: on a misaligned one it faults. A failing call
// unwinds through the realigned frame.
TEST_F(Win32Test, TheExportsTakeAStackOfAnyAlignment) {
  std::string text;
  for (const int n : {7, 17, 18, 19, 40, 100}) {
    text += "D\tH\tG\tX\t20240131\t1.00\t0.17\t" + std::string(n / 2, '<') +
            std::string(n - n / 2, '>') + "\t255\tB\r\n";
  }
  WriteFile("in.txt", text);
  ASSERT_EQ(lib_.txt2xml("in.txt", "expected.xml", 100, "N", "Q"), 1) << Message();
  WriteFile("returned.xml", Returned(ReadFile("expected.xml"), std::string(40, 'J')));
  int32_t rows = 0;
  char nsr[256], reserved[256], message[256];
  ASSERT_EQ(lib_.xml2txt("returned.xml", "expected.txt", 0, &rows, nsr, reserved), 1) << Message();
  // The day the document was made is left out of the comparison.
  const auto undated = [](std::string doc) { return doc.erase(doc.find("<scrq>"), 14); };
  for (const int32_t skew : {0, 4, 8, 12}) {
    SCOPED_TRACE(skew);
    int32_t change = 1;
    const uint32_t txt2xml[] = {Arg("in.txt"), Arg("out.xml"), 100, Arg("N"), Arg("Q")};
    EXPECT_EQ(ProbeCall(lib_.txt2xml, txt2xml, &change, skew), 1);
    EXPECT_EQ(undated(ReadFile("out.xml")), undated(ReadFile("expected.xml")));
    const uint32_t xml2txt[] = {Arg("returned.xml"), Arg("out.txt"), 0,
                                Arg(&rows),          Arg(nsr),       Arg(reserved)};
    EXPECT_EQ(ProbeCall(lib_.xml2txt, xml2txt, &change, skew), 1);
    EXPECT_EQ(ReadFile("out.txt"), ReadFile("expected.txt"));
    const uint32_t fetch[] = {Arg(message)};
    EXPECT_EQ(ProbeCall(lib_.get_last_error, fetch, &change, skew), 1);
    EXPECT_STREQ(message, "");
    const uint32_t missing[] = {Arg("missing.txt"), Arg("out.xml"), 100, Arg("N"), Arg("Q")};
    EXPECT_EQ(ProbeCall(lib_.txt2xml, missing, &change, skew), -1);
    EXPECT_EQ(Message(), "Cannot open file missing.txt");
    EXPECT_EQ(undated(ReadFile("out.xml")), undated(ReadFile("expected.xml")));
  }
}

#endif

TEST_F(Win32Test, OrdinalsOneToThree) {
  qtest::Library by_ordinal(qtest::Library::Lookup::kByOrdinal);
  ASSERT_TRUE(by_ordinal.loaded());
  EXPECT_EQ(by_ordinal.get_last_error, lib_.get_last_error);
  EXPECT_EQ(by_ordinal.txt2xml, lib_.txt2xml);
  EXPECT_EQ(by_ordinal.xml2txt, lib_.xml2txt);
  EXPECT_EQ(by_ordinal.txt2xml("missing.txt", "out.xml", 100, "", ""), -1);
  EXPECT_EQ(by_ordinal.LastError(), "Cannot open file missing.txt");
}

TEST_F(Win32Test, InputIsSharedForReadingOnly) {
  WriteFile("in.txt", "a\tb");
  // A reader that shares reading: the load goes ahead.
  HANDLE reader = CreateFileA("in.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(lib_.txt2xml("in.txt", "out.xml", 100, "", ""), 1);
  CloseHandle(reader);
  // A writer: the load refuses to read a file that may change under it.
  HANDLE writer = CreateFileA("in.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(lib_.txt2xml("in.txt", "out.xml", 100, "", ""), -1);
  EXPECT_EQ(Message(), "Cannot open file in.txt");
  CloseHandle(writer);
}

TEST_F(Win32Test, TargetsThatCannotBeReplaced) {
  WriteFile("in.txt", "a\tb");
  WriteFile("out.xml", "previous");
  // Held open without sharing by another handle.
  HANDLE holder = CreateFileA("out.xml", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(lib_.txt2xml("in.txt", "out.xml", 100, "", ""), -1);
  EXPECT_EQ(Message(), "Cannot create file out.xml");
  CloseHandle(holder);
  EXPECT_EQ(ReadFile("out.xml"), "previous");
  // Read-only.
  ASSERT_TRUE(SetFileAttributesA("out.xml", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(lib_.txt2xml("in.txt", "out.xml", 100, "", ""), -1);
  EXPECT_EQ(Message(), "Cannot create file out.xml");
  ASSERT_TRUE(SetFileAttributesA("out.xml", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(ReadFile("out.xml"), "previous");
  EXPECT_EQ(Leftovers().size(), 2u);  // no temporary file left behind
  // Free again: replaced.
  EXPECT_EQ(lib_.txt2xml("in.txt", "out.xml", 100, "", ""), 1);
  EXPECT_NE(ReadFile("out.xml"), "previous");
}

// Input is read through a window, never held whole: a 1.9 GB input, more
// than a 32-bit host could hold, converts. (The file is sparse and takes no
// disk space: after its first line come NULs, which end the content, so only
// its first window is read.)
TEST_F(Win32Test, InputLargerThanAHostCouldHoldConverts) {
  HANDLE h = CreateFileA("huge.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD put = 0;
  ASSERT_TRUE(::WriteFile(h, "a\tb\r\n", 5, &put, nullptr));
  LARGE_INTEGER size;
  size.QuadPart = 1900LL << 20;
  ASSERT_TRUE(SetFilePointerEx(h, size, nullptr, FILE_BEGIN));
  ASSERT_TRUE(SetEndOfFile(h));
  CloseHandle(h);
  EXPECT_EQ(lib_.txt2xml("huge.txt", "out.xml", 100, "", ""), 1) << Message();
  EXPECT_NE(ReadFile("out.xml").find("  <rows>1</rows>\r\n"), std::string::npos);
  int32_t rows = 0;
  char nsr[256], reserved[256];
  EXPECT_EQ(lib_.xml2txt("huge.txt", "out.txt", 0, &rows, nsr, reserved), -1);
  EXPECT_EQ(Message(), "List index out of bounds (1)");
  DeleteFileA("huge.txt");
}

// One field longer than the read window and than the room a row may reserve
// in the output buffer: the window grows for that line and the row goes
// through the writer's checked path, both ways, byte for byte.
TEST_F(Win32Test, FieldLongerThanTheWindowAndTheReservedRoom) {
  const std::string mw = std::string(3 << 19, '<') + "m" + std::string(3 << 18, '>');
  std::string escaped;
  for (const char c : mw) escaped += c == '<' ? "&lt;" : c == '>' ? "&gt;" : "m";
  const std::string row = "D\tH\tG\tX\t20240131\t1.00\t0.17\t";
  WriteFile("in.txt", "s\r\n" + row + mw + "\t255\tB\r\n" + row + "m\t-1\tB\r\n");
  ASSERT_EQ(lib_.txt2xml("in.txt", "out.xml", 100, "N", "Q"), 1) << Message();
  const std::string doc = ReadFile("out.xml");
  EXPECT_NE(doc.find("  <rows>3</rows>\r\n"), std::string::npos);
  EXPECT_NE(doc.find("  <row id=\"1\">\r\n  </row>\r\n  <row id=\"2\">\r\n   <dm>D</dm>\r\n"),
            std::string::npos);
  EXPECT_NE(doc.find("   <mw>" + escaped + "</mw>\r\n   <sy>00000000000000FF</sy>\r\n"),
            std::string::npos);
  EXPECT_NE(doc.find("   <sy>FFFFFFFFFFFFFFFF</sy>\r\n   <bb>B</bb>\r\n  </row>\r\n </data>\r\n"),
            std::string::npos);

  // Returned: each row's bb gives way to jg and rq; the empty first row is
  // incomplete, so rows start at the second block.
  const std::string jg = std::string(3 << 19, 'J');
  std::string returned = Returned(doc, jg);
  returned.replace(returned.find("<rows>3</rows>"), 14, "<rows>2</rows>");
  const std::string empty_row = "  <row id=\"1\">\r\n  </row>\r\n";
  returned.replace(returned.find(empty_row), empty_row.size(), "");
  WriteFile("back.xml", returned);
  int32_t rows = 0;
  char nsr[256], reserved[256];
  ASSERT_EQ(lib_.xml2txt("back.xml", "back.txt", 0, &rows, nsr, reserved), 1) << Message();
  const std::string fields = "D\tH\tG\tX\t2024/01/31\t1.00\t0.17\t";
  EXPECT_EQ(ReadFile("back.txt"), fields + mw + "\t255\t" + jg + "\t2026/12/07\r\n" + fields +
                                      "m\t-1\t" + jg + "\t2026/12/07\r\n");
}

// Links are followed as on POSIX: the file a link names is saved in its own
// folder and the link stays; a link to nothing yet creates that file; a loop
// is refused. Under Wine the links are Unix links, made and inspected from
// the Unix side (Wine shows a link to an existing file as that file and
// hides a link to nothing).
TEST_F(Win32Test, SymbolicLinksAreFollowedAndKept) {
  if (RunUnix("mkdir real && echo previous > real/target.xml && ln -s real/target.xml link.xml &&"
              " ln -s real/new.xml dangling.xml && ln -s b a && ln -s a b") != 0) {
    GTEST_SKIP() << "Unix links can be made only under Wine";
  }
  WriteFile("in.txt", "a\tb");
  EXPECT_EQ(lib_.txt2xml("in.txt", "link.xml", 100, "", ""), 1) << Message();
  EXPECT_EQ(lib_.txt2xml("in.txt", "dangling.xml", 100, "", ""), 1) << Message();
  EXPECT_EQ(lib_.txt2xml("in.txt", "a", 100, "", ""), -1);
  EXPECT_EQ(Message(), "Cannot create file a");
  EXPECT_NE(ReadFile("real/target.xml").find("<row id=\"1\">"), std::string::npos);
  EXPECT_NE(ReadFile("real/new.xml").find("<row id=\"1\">"), std::string::npos);
  EXPECT_EQ(RunUnix("test -L link.xml && test -L dangling.xml && test -L a && test -L b &&"
                    " test $(ls -A | wc -l) = 6 && test $(ls -A real | wc -l) = 2"),
            0);
}

// A file with a second name is rewritten in place: both names keep showing
// one file.
TEST_F(Win32Test, FileWithASecondNameIsRewrittenInPlace) {
  WriteFile("in.txt", "a\tb");
  WriteFile("out.xml", "previous");
  ASSERT_TRUE(CreateHardLinkA("second.xml", "out.xml", nullptr));
  EXPECT_EQ(lib_.txt2xml("in.txt", "out.xml", 100, "", ""), 1) << Message();
  EXPECT_NE(ReadFile("out.xml").find("<row id=\"1\">"), std::string::npos);
  EXPECT_EQ(ReadFile("second.xml"), ReadFile("out.xml"));
  EXPECT_EQ(Leftovers().size(), 3u);
}

// The replacing file takes the target's attributes and access list.
TEST_F(Win32Test, ReplacedFileKeepsAttributesAndAccessList) {
  WriteFile("in.txt", "a\tb");
  WriteFile("out.xml", "previous");
  const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
  ASSERT_TRUE(SetFileAttributesA("out.xml", kept));
  EXPECT_EQ(lib_.txt2xml("in.txt", "out.xml", 100, "", ""), 1) << Message();
  EXPECT_EQ(GetFileAttributesA("out.xml") & (kept | FILE_ATTRIBUTE_READONLY), kept);
  EXPECT_NE(ReadFile("out.xml").find("<row id=\"1\">"), std::string::npos);
  if (RunUnix("true") == 0) {
    GTEST_SKIP() << "Wine keeps a file's access list as its Unix mode, which no Win32 call "
                    "of the library can carry over";
  }
  // Everyone may read and write, the administrators do all: a list that no
  // new file in this folder would inherit.
  PSECURITY_DESCRIPTOR wanted = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
      "D:P(A;;FRFW;;;WD)(A;;FA;;;BA)", SDDL_REVISION_1, &wanted, nullptr));
  ASSERT_TRUE(SetFileSecurityA("out.xml", DACL_SECURITY_INFORMATION, wanted));
  LocalFree(wanted);
  const auto access_list = [] {
    alignas(8) char descriptor[4096];
    DWORD needed = 0;
    char* text = nullptr;
    if (!GetFileSecurityA("out.xml", DACL_SECURITY_INFORMATION, descriptor, sizeof descriptor,
                          &needed) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorA(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
      return std::string("<unreadable>");
    }
    std::string list = text;
    LocalFree(text);
    return list;
  };
  const std::string before = access_list();
  EXPECT_EQ(lib_.txt2xml("in.txt", "out.xml", 100, "", ""), 1) << Message();
  EXPECT_EQ(access_list(), before);
}

DWORD WINAPI CloseAfterAMoment(void* handle) {
  Sleep(40);
  CloseHandle(static_cast<HANDLE>(handle));
  return 0;
}

// Another program holding the target for a moment (a second save, a virus
// scanner) delays the replacement; it does not fail it.
TEST_F(Win32Test, TargetHeldForAMomentIsReplacedAfterIt) {
  WriteFile("in.txt", "a\tb");
  WriteFile("out.xml", "previous");
  HANDLE holder = CreateFileA("out.xml", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  HANDLE release = CreateThread(nullptr, 0, CloseAfterAMoment, holder, 0, nullptr);
  ASSERT_NE(release, nullptr);
  EXPECT_EQ(lib_.txt2xml("in.txt", "out.xml", 100, "", ""), 1) << Message();
  WaitForSingleObject(release, INFINITE);
  CloseHandle(release);
  EXPECT_NE(ReadFile("out.xml").find("<row id=\"1\">"), std::string::npos);
  EXPECT_EQ(Leftovers().size(), 2u);
}

TEST_F(Win32Test, NulDeviceIsWrittenInPlace) {
  WriteFile("in.txt", "a\tb");
  EXPECT_EQ(lib_.txt2xml("in.txt", "NUL", 100, "", ""), 1) << Message();
  EXPECT_EQ(Leftovers().size(), 1u);
}

}  // namespace
