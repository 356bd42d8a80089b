// What only a 32-bit Windows host sees of Quorvel.dll: the stdcall contract
// at the machine level, lookup by ordinal, and the sharing modes of the files
// it opens.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/files.h"
#include "support/library.h"

extern "C" int32_t QuorvelProbeCall(const void* fn, const uint32_t* args, int32_t count,
                                    int32_t* stack_change);

namespace {

using qtest::ReadFile;
using qtest::WriteFile;

uint32_t Arg(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

extern "C" int32_t __cdecl LeavesItsArguments(int32_t a, int32_t b) { return a + b; }

class Win32Test : public qtest::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    ASSERT_TRUE(lib_.loaded());
  }
  std::string Message() { return lib_.LastError(); }
  qtest::Library lib_;
};

TEST_F(Win32Test, TheCalleeRemovesItsArguments) {
  int32_t change = 1;
  // The probe can tell: a cdecl function leaves 8 bytes behind.
  const uint32_t two[] = {40, 2};
  EXPECT_EQ(QuorvelProbeCall(reinterpret_cast<const void*>(&LeavesItsArguments), two, 2, &change), 42);
  EXPECT_EQ(change, -8);

  char message[256];
  const uint32_t fetch[] = {Arg(message)};
  EXPECT_EQ(QuorvelProbeCall(reinterpret_cast<const void*>(lib_.get_last_error), fetch, 1, &change), 1);
  EXPECT_EQ(change, 0);  // 4 bytes removed

  WriteFile("in.txt", "a\tb");
  const uint32_t txt2xml[] = {Arg("in.txt"), Arg("out.xml"), 100, Arg("N"), Arg("Q")};
  EXPECT_EQ(QuorvelProbeCall(reinterpret_cast<const void*>(lib_.txt2xml), txt2xml, 5, &change), 1);
  EXPECT_EQ(change, 0);  // 20 bytes removed

  int32_t rows = 0;
  char nsr[256], reserved[256];
  const uint32_t xml2txt[] = {Arg("out.xml"), Arg("out.txt"), 0xDEADBEEF, Arg(&rows), Arg(nsr),
                              Arg(reserved)};
  EXPECT_EQ(QuorvelProbeCall(reinterpret_cast<const void*>(lib_.xml2txt), xml2txt, 6, &change),
            -1);  // the row has no elements: incomplete
  EXPECT_EQ(change, 0);  // 24 bytes removed
  EXPECT_EQ(rows, 1);
  EXPECT_STREQ(nsr, "N");
}

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
  std::string returned = doc;
  const std::string jg = std::string(3 << 19, 'J');
  for (std::size_t at; (at = returned.find("   <bb>B</bb>\r\n")) != std::string::npos;) {
    returned.replace(at, 15, "   <jg>" + jg + "</jg>\r\n   <rq>20261207</rq>\r\n");
  }
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

TEST_F(Win32Test, NulDeviceIsWrittenInPlace) {
  WriteFile("in.txt", "a\tb");
  EXPECT_EQ(lib_.txt2xml("in.txt", "NUL", 100, "", ""), 1) << Message();
  EXPECT_EQ(Leftovers().size(), 1u);
}

}  // namespace
