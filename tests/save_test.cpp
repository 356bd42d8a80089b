// Line files on disk: loading, the atomic save, and what every injected I/O
// fault leaves behind (the message, the existing output, no stray temporary
// file).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/failure.h"
#include "io/input.h"
#include "io/output.h"
#include "quorvel.h"
#include "support/files.h"
#include "support/in_process.h"
#include "support/message_of.h"
#include "support/platform_override.h"

#ifdef _WIN32
#include <windows.h>
#include <sddl.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace {

using qtest::MessageOf;

namespace platform = quorvel::platform;
using qtest::ReadFile;
using qtest::WriteFile;

using qtest::LastError;

#ifdef _WIN32
constexpr const char* kNullDevice = "NUL";
#else
constexpr const char* kNullDevice = "/dev/null";
#endif

// Fault knobs read by the injected platform calls below.
struct Faults {
  static inline std::size_t write_budget = 0;  // bytes that may still be written
  static inline std::size_t read_limit = 0;    // bytes the first read delivers
  static inline int reads = 0;
};

std::ptrdiff_t WriteWithinBudget(platform::Handle h, const char* bytes, std::size_t size) {
  if (Faults::write_budget == 0) return -std::ptrdiff_t{ENOSPC};
  const std::ptrdiff_t n = platform::Native().write(h, bytes, std::min(size, Faults::write_budget));
  if (n > 0) Faults::write_budget -= static_cast<std::size_t>(n);
  return n;
}

// Which file a path names (device and file number): unchanged by a rewrite
// in place, changed by a replacement.
std::string FileIdentity(const std::string& path) {
#ifdef _WIN32
  const HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  BY_HANDLE_FILE_INFORMATION about = {};
  if (h != INVALID_HANDLE_VALUE) {
    GetFileInformationByHandle(h, &about);
    CloseHandle(h);
  }
  return std::to_string(about.dwVolumeSerialNumber) + ":" + std::to_string(about.nFileIndexHigh) +
         ":" + std::to_string(about.nFileIndexLow);
#else
  struct stat st = {};
  ::stat(path.c_str(), &st);
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
#endif
}

std::ptrdiff_t ReadShort(platform::Handle h, char* buffer, std::size_t size) {
  if (Faults::reads++ > 0) return -1;  // then reading fails
  return platform::Native().read(h, buffer, std::min(size, Faults::read_limit));
}

class SaveTest : public qtest::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    platform_.api().local_date = qtest::PinnedDate;
    Faults::reads = 0;
  }

  // An input whose document is about 3.6 MiB (times `times`): several
  // stream buffers.
  static std::string LargeInput(const std::string& last_sy = "255", int times = 1) {
    const std::string row = "1100\t00000001\tBUYER\tSELLER\t20240131\t1000.00\t170.00\t<a>\t";
    std::string input;
    for (int i = 0; i < 14000 * times; ++i) input += row + "255\tB\n";
    return input + row + last_sy + "\tB\n";
  }

  // Converts `input` over an existing "out.xml" and checks that a failure left
  // that file and the folder exactly as they were.
  void ExpectFailureLeavesOutput(const std::string& input, const std::string& message) {
    WriteFile("in.txt", input);
    WriteFile("out.xml", "previous");
    EXPECT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_FAILED);
    EXPECT_EQ(LastError(), message);
    EXPECT_TRUE(ReadFile("out.xml") == "previous") << "the existing output was changed";
    std::vector<std::string> names = Leftovers();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"in.txt", "out.xml"}));
  }

  qtest::PlatformOverride platform_;
};

TEST_F(SaveTest, LinesEndInCrLfAndAnEmptyListGivesAnEmptyFile) {
  {
    quorvel::LineWriter out("two.txt");
    out.AppendLine("x");
    out.AppendLine("");
    out.Save();
  }
  EXPECT_EQ(ReadFile("two.txt"), "x\r\n\r\n");
  WriteFile("empty.txt", "old content");
  {
    quorvel::LineWriter out("empty.txt");
    out.Save();
  }
  EXPECT_EQ(ReadFile("empty.txt"), "");
  // Appended lines are written as stored, CR and LF included.
  {
    quorvel::LineWriter out("raw.txt");
    out.AppendLine("a\rb\nc");
    out.Save();
  }
  EXPECT_EQ(ReadFile("raw.txt"), "a\rb\nc\r\n");
}

TEST_F(SaveTest, UnsavedWriterLeavesNothing) {
  WriteFile("out.txt", "previous");
  {
    quorvel::LineWriter out("out.txt");
    for (int i = 0; i < 200000; ++i) out.AppendLine("a line that fills several buffers");
  }
  EXPECT_EQ(ReadFile("out.txt"), "previous");
  EXPECT_EQ(Leftovers(), std::vector<std::string>{"out.txt"});
}

TEST_F(SaveTest, InputsThatCannotBeOpened) {
  qtest::MakeDir("folder");
  for (const char* bad : {"missing.txt", "folder", ""}) {
    EXPECT_EQ(MessageOf([&] { quorvel::ByteReader reader(bad); }),
              std::string("Cannot open file ") + bad);
  }
  EXPECT_EQ(MessageOf([&] { quorvel::ByteReader reader(nullptr); }), "Cannot open file ");
}

TEST_F(SaveTest, ShortOrFailedReadsNeverConvertATruncatedInput) {
  WriteFile("in.txt", std::string(5000, 'x'));
  platform_.api().read = ReadShort;
  for (const std::size_t limit : {1u, 4999u}) {
    Faults::reads = 0;
    Faults::read_limit = limit;
    ExpectFailureLeavesOutput(std::string(5000, 'x'), "Cannot open file in.txt");
  }
  platform_.api().read = [](platform::Handle, char*, std::size_t) -> std::ptrdiff_t {
    return -EIO;
  };
  ExpectFailureLeavesOutput("x", "Cannot open file in.txt");
}

TEST_F(SaveTest, WritesThatFallShortAtAnyOffset) {
  WriteFile("in.txt", LargeInput());
  ASSERT_EQ(Quorvel_TXT2XML("in.txt", "full.xml", 100, "N", "Q"), QUORVEL_RESULT_OK);
  const std::size_t size = ReadFile("full.xml").size();
  ASSERT_GT(size, std::size_t{3} << 20);
  std::remove("full.xml");
  platform_.api().write = WriteWithinBudget;
  const std::size_t chunk = std::size_t{1} << 20;
  for (const std::size_t offset : {std::size_t{0}, std::size_t{1}, std::size_t{4095}, chunk - 1,
                                   chunk, chunk + 1, 3 * chunk + 7, size - 1}) {
    SCOPED_TRACE(offset);
    Faults::write_budget = offset;
    ExpectFailureLeavesOutput(LargeInput(), "Stream write error");
  }
  // A small document fails at the save just the same.
  Faults::write_budget = 10;
  ExpectFailureLeavesOutput("a\tb", "Stream write error");
}

// Where no temporary file can be made beside the output (a folder where the
// caller may not create files), a new file cannot be created; an existing
// one is rewritten in place instead, and still only once the conversion has
// succeeded.
TEST_F(SaveTest, TemporaryFileThatCannotBeCreated) {
  platform_.api().create_temp = [](const char*, bool, const platform::TempNaming*,
                                   platform::Handle*,
                                   std::string*) { return platform::Error{EACCES}; };
  WriteFile("in.txt", "a\tb");
  EXPECT_EQ(Quorvel_TXT2XML("in.txt", "new.xml", 100, "N", "Q"), QUORVEL_RESULT_FAILED);
  EXPECT_EQ(LastError(), "Cannot create file new.xml");
  EXPECT_EQ(Leftovers(), std::vector<std::string>{"in.txt"});
  ExpectFailureLeavesOutput(LargeInput("bad"), "'bad' is not a valid integer value");
  const std::string identity = FileIdentity("out.xml");
  WriteFile("in.txt", LargeInput());
  ASSERT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_OK) << LastError();
  EXPECT_EQ(FileIdentity("out.xml"), identity) << "the file was replaced";
  EXPECT_GT(ReadFile("out.xml").size(), std::size_t{3} << 20);
  EXPECT_EQ(Leftovers().size(), 2u);
}

// A replace the system refuses leaves an existing target to be rewritten in
// place from the finished temporary file (a new one cannot be created). A
// replace that removed the old file and could not put the new one in its
// place keeps the new content under the temporary name rather than lose
// both. A close that fails is a write that failed.
TEST_F(SaveTest, ReplaceOrCloseThatFails) {
  platform_.api().replace = [](const char*, const char*, bool*) { return platform::Error{EACCES}; };
  WriteFile("in.txt", "a\tb");
  EXPECT_EQ(Quorvel_TXT2XML("in.txt", "new.xml", 100, "N", "Q"), QUORVEL_RESULT_FAILED);
  EXPECT_EQ(LastError(), "Cannot create file new.xml");
  EXPECT_EQ(Leftovers(), std::vector<std::string>{"in.txt"});
  WriteFile("out.xml", "previous");
  const std::string identity = FileIdentity("out.xml");
  ASSERT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_OK) << LastError();
  EXPECT_EQ(FileIdentity("out.xml"), identity) << "the file was replaced";
  EXPECT_NE(ReadFile("out.xml").find("<row id=\"1\">"), std::string::npos);
  EXPECT_EQ(Leftovers().size(), 2u);

  platform_.api().replace = [](const char*, const char* target, bool* stranded) {
    std::remove(target);
    *stranded = true;
    return platform::Error{EACCES};
  };
  EXPECT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_FAILED);
  EXPECT_EQ(LastError(), "Cannot create file out.xml");
  const std::vector<std::string> names = Leftovers();
  ASSERT_EQ(names.size(), 2u);
  const std::string kept = names[0] == "in.txt" ? names[1] : names[0];
  EXPECT_EQ(kept.substr(0, 9), "out.xml.~");
  EXPECT_NE(ReadFile(kept).find("<row id=\"1\">"), std::string::npos);
  std::remove(kept.c_str());

  platform_.api().replace = platform::Native().replace;
  platform_.api().close = [](platform::Handle h) {
    platform::Native().close(h);
    return platform::Error{EIO};
  };
  ExpectFailureLeavesOutput("a\tb", "Stream write error");
}

// The steps of a save as the platform sees them, and their faults.
struct Steps {
  static inline std::string log;
  static inline std::string failing;  // the step made to fail, by name
  // Logs `step`; the error it is made to fail with, or 0.
  static platform::Error Record(const char* step) {
    log += log.empty() ? "" : " ";
    log += step;
    return failing.find(step) == std::string::npos ? 0 : EPERM;
  }
};

// The save's own steps: the system is one that starts a write-back when
// asked, so that no flush runs behind the writing (Windows has none).
void RecordSaveSteps(platform::Api& api) {
  Steps::log.clear();
  api.start_writeback = [](platform::Handle, std::uint64_t, std::uint64_t) { return true; };
  api.set_owner = [](platform::Handle h, std::uint32_t owner, std::uint32_t group) {
    const platform::Error error = Steps::Record("set_owner");
    return error != 0 ? error : platform::Native().set_owner(h, owner, group);
  };
  api.flush = [](platform::Handle h) {
    const platform::Error error = Steps::Record("flush");
    return error != 0 ? error : platform::Native().flush(h);
  };
  api.replace = [](const char* temp, const char* target, bool* stranded) {
    *stranded = false;
    const platform::Error error = Steps::Record("replace");
    return error != 0 ? error : platform::Native().replace(temp, target, stranded);
  };
  api.sync_folder = [](const char* folder) {
    const platform::Error error = Steps::Record("sync_folder");
    return error != 0 ? error : platform::Native().sync_folder(folder);
  };
  api.open_in_place = [](const char* path, const platform::FileInfo* expected,
                         platform::Handle* h) {
    const platform::Error error = Steps::Record("open_in_place");
    return error != 0 ? error : platform::Native().open_in_place(path, expected, h);
  };
}

// The data reaches the disk before the new file takes the old one's place,
// and the name change is made durable after it. A flush that fails is a
// write that failed; a refused replacement leaves the file to be rewritten
// in place; a folder that cannot be flushed after the replacement changes
// nothing, since the new file is in place by then.
TEST_F(SaveTest, DataIsFlushedBeforeTheReplaceAndTheFolderAfterIt) {
  RecordSaveSteps(platform_.api());
  struct Case {
    const char* failing;
    const char* message;  // "" for success
    const char* steps;
  };
  const Case cases[] = {
      {"", "", "set_owner flush replace sync_folder"},
      {"flush", "Stream write error", "set_owner flush"},
      {"replace", "", "set_owner flush replace open_in_place flush"},
      {"sync_folder", "", "set_owner flush replace sync_folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing);
    Steps::failing = c.failing;
    Steps::log.clear();
    if (c.message[0] != '\0') {
      ExpectFailureLeavesOutput(LargeInput(), c.message);
    } else {
      WriteFile("in.txt", "a");
      WriteFile("out.xml", "previous");
      EXPECT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_OK);
      EXPECT_NE(ReadFile("out.xml").find("<row id=\"1\">"), std::string::npos);
      EXPECT_EQ(Leftovers().size(), 2u);
    }
    EXPECT_EQ(Steps::log, c.steps);
  }
}

// Where the system will not let a new file take the target's owner or group,
// the target is rewritten in place, from the finished temporary file: same
// file, new content, nothing left behind. A conversion that fails still
// writes nothing, and a failure to flush the rewrite is a write error.
TEST_F(SaveTest, TargetWhoseOwnerCannotBeTakenOverIsRewrittenInPlace) {
  RecordSaveSteps(platform_.api());
  Steps::failing = "set_owner";
  WriteFile("in.txt", LargeInput());
  WriteFile("out.xml", "previous");
  const std::string identity = FileIdentity("out.xml");
  ASSERT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_OK);
  EXPECT_EQ(Steps::log, "set_owner open_in_place flush");
  EXPECT_EQ(FileIdentity("out.xml"), identity) << "the file was replaced";
  const std::string output = ReadFile("out.xml");
  EXPECT_GT(output.size(), std::size_t{3} << 20);
  EXPECT_EQ(output.substr(output.size() - 9), "</body>\r\n");
  EXPECT_EQ(Leftovers().size(), 2u);

  ExpectFailureLeavesOutput(LargeInput("bad"), "'bad' is not a valid integer value");
  Steps::log.clear();
  Steps::failing = "set_owner flush";
  WriteFile("in.txt", "a");
  WriteFile("out.xml", "previous");
  EXPECT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_FAILED);
  EXPECT_EQ(LastError(), "Stream write error");
  EXPECT_EQ(Leftovers().size(), 2u);
}

// Output for a device or a pipe waits in a spool, not in memory: it reaches
// the target only after the conversion succeeded, and then through the
// writer's own buffer, one megabyte at a time at most.
struct Spooled {
  static inline platform::Handle target = platform::kNoHandle;
  static inline std::size_t largest_write = 0;
  static inline std::size_t written = 0;
};

TEST_F(SaveTest, DeviceOutputIsSpooledAndCopiedInBoundedPieces) {
  platform_.api().resolve = [](const char* path, platform::Resolved* resolved) {
    const platform::Error error = platform::Native().resolve(path, resolved);
    resolved->found = true;
    resolved->info.type = platform::FileType::kOther;  // "out.xml" stands in for a device
    return error;
  };
  platform_.api().open_in_place = [](const char* path, const platform::FileInfo* expected,
                                     platform::Handle* h) {
    const platform::Error error = platform::Native().open_in_place(path, expected, h);
    Spooled::target = *h;
    return error;
  };
  platform_.api().write = [](platform::Handle h, const char* bytes, std::size_t size) {
    const std::ptrdiff_t n = platform::Native().write(h, bytes, size);
    if (h == Spooled::target && n > 0) {
      Spooled::largest_write = std::max(Spooled::largest_write, size);
      Spooled::written += static_cast<std::size_t>(n);
    }
    return n;
  };
  Spooled::target = platform::kNoHandle;
  ExpectFailureLeavesOutput(LargeInput("bad"), "'bad' is not a valid integer value");
  EXPECT_EQ(Spooled::target, platform::kNoHandle) << "the device was opened";
  WriteFile("in.txt", LargeInput());
  ASSERT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_OK) << LastError();
  EXPECT_EQ(Spooled::written, ReadFile("out.xml").size());
  EXPECT_GT(Spooled::written, std::size_t{3} << 20);
  EXPECT_LE(Spooled::largest_write, std::size_t{1} << 20);
  EXPECT_EQ(Leftovers().size(), 2u);
}

// A folder is known as soon as the output has to go somewhere: nothing is
// kept, and the save fails where it would have; a conversion failure that
// comes first is still the one reported.
TEST_F(SaveTest, FolderAsTargetKeepsNothingAndFailsAtTheSave) {
  qtest::MakeDir("folder");
  static int created;
  created = 0;
  platform_.api().create_temp = [](const char*, bool, const platform::TempNaming*,
                                   platform::Handle*, std::string*) {
    ++created;
    return platform::Error{EACCES};
  };
  platform_.api().open_spool = [](platform::Handle*) {
    ++created;
    return platform::Error{EACCES};
  };
  for (const auto& [input, message] :
       {std::pair{LargeInput(), "Cannot create file folder"},
        std::pair{LargeInput("bad"), "'bad' is not a valid integer value"},
        std::pair{std::string("a"), "Cannot create file folder"}}) {
    WriteFile("in.txt", input);
    EXPECT_EQ(Quorvel_TXT2XML("in.txt", "folder", 100, "N", "Q"), QUORVEL_RESULT_FAILED);
    EXPECT_EQ(LastError(), message);
  }
  EXPECT_EQ(created, 0);
  EXPECT_EQ(qtest::ListDir("folder").size(), 0u);
}

// The temporary name carries 32 random bits: no sequence another program
// could run ahead of.
TEST_F(SaveTest, TemporaryNamesAreUnpredictable) {
  std::vector<std::string> names;
  for (int i = 0; i < 64; ++i) {
    platform::Handle h;
    std::string name;
    ASSERT_EQ(platform::Native().create_temp("t.xml", false, nullptr, &h, &name), 0);
    platform::Native().close(h);
    platform::Native().remove(name.c_str());
    names.push_back(name);
  }
  for (std::size_t digit = 0; digit < 8; ++digit) {
    std::vector<char> seen;
    for (const std::string& name : names) {
      ASSERT_EQ(name.size(), 19u) << name;
      EXPECT_EQ(name.substr(0, 7), "t.xml.~");
      EXPECT_EQ(name.substr(15), ".tmp");
      seen.push_back(name[7 + digit]);
    }
    std::sort(seen.begin(), seen.end());
    // 64 draws of a random digit give one value with probability 16^-63.
    EXPECT_GT(std::unique(seen.begin(), seen.end()) - seen.begin(), 1) << "digit " << digit;
  }
  EXPECT_EQ(Leftovers().size(), 0u);
}

// A name with no room left for the temporary suffix (242 to 255 bytes here;
// on Windows a path near its length limit) is saved through a short
// temporary name in the same folder, new or existing.
TEST_F(SaveTest, LongNamesAreSavedThroughAShortTemporaryName) {
#ifdef _WIN32
  char folder[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, folder), 0u);
  const std::size_t length = 250 - std::strlen(folder) - 1;
#else
  const std::size_t length = 250;
#endif
  const std::string name(length, 'n');
  WriteFile("in.txt", LargeInput());
  for (const char* previous : {"", "previous"}) {
    if (previous[0] != '\0') WriteFile(name, previous);
    ASSERT_EQ(Quorvel_TXT2XML("in.txt", name.c_str(), 100, "N", "Q"), QUORVEL_RESULT_OK)
        << LastError();
    EXPECT_GT(ReadFile(name).size(), std::size_t{3} << 20);
    EXPECT_EQ(Leftovers().size(), 2u);
  }
}

// A stream that failed early must not hide a conversion failure found later:
// the conversion's own message wins, as if the save had never begun.
TEST_F(SaveTest, ConversionFailureOutranksAnEarlierStreamFailure) {
  const std::string bad = LargeInput("bad");
  platform_.api().create_temp = [](const char*, bool, const platform::TempNaming*,
                                   platform::Handle*,
                                   std::string*) { return platform::Error{EACCES}; };
  ExpectFailureLeavesOutput(bad, "'bad' is not a valid integer value");
  platform_.api().create_temp = platform::Native().create_temp;
  platform_.api().write = WriteWithinBudget;
  Faults::write_budget = 100;
  ExpectFailureLeavesOutput(bad, "'bad' is not a valid integer value");
}

TEST_F(SaveTest, Xml2TxtIncompleteRowsWriteNoFile) {
  std::string doc = "<nsr>N</nsr>\n<rows>1</rows>\n<data>\n<row>\n<dm>1</dm>\n</row>\n";
  WriteFile("in.xml", "x\n" + doc);
  WriteFile("out.txt", "previous");
  int32_t rows = 0;
  char nsr[256], reserved[256];
  EXPECT_EQ(Quorvel_XML2TXT("in.xml", "out.txt", 0, &rows, nsr, reserved), QUORVEL_RESULT_FAILED);
  EXPECT_EQ(LastError(), "");
  EXPECT_EQ(ReadFile("out.txt"), "previous");
  EXPECT_EQ(Leftovers().size(), 2u);
}

// A value larger than the whole output buffer (a buyer's name of 1.5 MiB,
// after several buffers of rows and before more) goes straight through, in
// its place: the document is compared whole.
TEST_F(SaveTest, ValueLargerThanTheBufferKeepsItsPlace) {
  const std::string big((std::size_t{3} << 19) + 7, 'g');
  constexpr int kBefore = 20000, kRows = 20100;
  std::string input;
  for (int i = 1; i <= kRows; ++i) {
    input += "1100\t00000001\t" + (i == kBefore + 1 ? big : std::string("G")) +
             "\tSELLER\t20240131\t1000.00\t170.00\tm\t255\tB\r\n";
  }
  WriteFile("in.txt", input);
  ASSERT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_OK) << LastError();
  const std::string doc = ReadFile("out.xml");
  const std::size_t data = doc.find(" <data>\r\n");
  ASSERT_NE(data, std::string::npos);
  std::string expected = doc.substr(0, data + 9);
  for (int i = 1; i <= kRows; ++i) {
    expected += "  <row id=\"" + std::to_string(i) +
                "\">\r\n   <dm>1100</dm>\r\n   <hm>00000001</hm>\r\n   <gf>" +
                (i == kBefore + 1 ? big : std::string("G")) +
                "</gf>\r\n   <xf>SELLER</xf>\r\n   <kr>20240131</kr>\r\n   <je>1000.00</je>\r\n"
                "   <se>170.00</se>\r\n   <mw>m</mw>\r\n   <sy>00000000000000FF</sy>\r\n"
                "   <bb>B</bb>\r\n  </row>\r\n";
  }
  expected += " </data>\r\n</body>\r\n";
  EXPECT_GT(data, std::size_t{0});
  EXPECT_TRUE(doc == expected) << "sizes " << doc.size() << " and " << expected.size();
}

// A conversion that fails while a buffer is still being written behind it
// waits for that write before its temporary file is closed and removed
// (each write is made slow here, so the failure comes while one runs).
TEST_F(SaveTest, FailureWhileABufferIsWrittenBehindWaitsForTheWrite) {
  static std::atomic<platform::Handle> writing;
  static std::atomic<int> closed_while_written;
  writing = platform::kNoHandle;
  closed_while_written = 0;
  platform_.api().write = [](platform::Handle h, const char* bytes, std::size_t size) {
    writing = h;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::ptrdiff_t n = platform::Native().write(h, bytes, size);
    writing = platform::kNoHandle;
    return n;
  };
  platform_.api().close = [](platform::Handle h) {
    if (writing.load() == h) ++closed_while_written;
    return platform::Native().close(h);
  };
  ExpectFailureLeavesOutput(LargeInput("bad"), "'bad' is not a valid integer value");
  EXPECT_EQ(closed_while_written.load(), 0);
}

// Where the system cannot be asked to start writing a file back, a large
// output is flushed behind the writer as it goes, on a thread of its own:
// the save still ends with its own flush and writes the same file, and no
// flush behind is under way when the save flushes or closes the file, a
// failed conversion's included. Each flush is made slow, so that one is
// always running. A flush behind that fails fails the save, though the
// save's own flush succeeds: the system reports a lost write-back once.
TEST_F(SaveTest, FlushesBehindWhereNoWriteBackCanBeStarted) {
  static std::atomic<int> flushes;
  static std::atomic<platform::Handle> flushing;
  static std::atomic<int> overlaps;
  static std::atomic<bool> fail_behind;
  static std::thread::id caller;
  flushing = platform::kNoHandle;
  overlaps = 0;
  fail_behind = false;
  caller = std::this_thread::get_id();
  platform_.api().flush = [](platform::Handle h) {
    ++flushes;
    if (flushing.exchange(h) != platform::kNoHandle) ++overlaps;
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    flushing = platform::kNoHandle;
    if (fail_behind && std::this_thread::get_id() != caller) return platform::Error{5};
    return platform::Native().flush(h);
  };
  platform_.api().close = [](platform::Handle h) {
    if (flushing.load() == h) ++overlaps;
    return platform::Native().close(h);
  };
  WriteFile("in.txt", LargeInput("255", 10));  // a document of about 36 MiB
  std::string documents[2];
  for (const bool can_start : {true, false}) {
    SCOPED_TRACE(can_start ? "write-back started" : "flushed behind");
    // A system that takes the hint, and one that has no such call.
    platform_.api().start_writeback =
        can_start ? [](platform::Handle, std::uint64_t, std::uint64_t) { return true; }
                  : [](platform::Handle, std::uint64_t, std::uint64_t) { return false; };
    flushes = 0;
    ASSERT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_OK);
    documents[can_start] = ReadFile("out.xml");
    EXPECT_EQ(flushes.load() > 1, !can_start) << flushes.load() << " flushes";
  }
  EXPECT_TRUE(documents[0] == documents[1]);
  ExpectFailureLeavesOutput(LargeInput("bad", 10), "'bad' is not a valid integer value");
  fail_behind = true;
  ExpectFailureLeavesOutput(LargeInput("255", 10), "Stream write error");
  EXPECT_EQ(overlaps.load(), 0);
}

// Whether a file has the name `path`, without opening it (a file the save
// holds is not shared on Windows).
bool NameExists(const std::string& path) {
#ifdef _WIN32
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
#else
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
#endif
}

// A listener is told of the temporary file a save holds before it exists
// under its name, so that no moment leaves one it does not know of, until it
// is gone or has taken the target's place (a spool, which has no name, is
// never mentioned), and of the time the target is written in place.
struct HeldFiles : quorvel::TemporaryListener {
  std::vector<std::string> events;  // "+" or "-", then whether it exists
  std::string name;
  void Held(std::string_view path, bool held) noexcept override {
    name = path;
    events.push_back(std::string(held ? "+" : "-") + (NameExists(name) ? "there" : "gone"));
  }
  void WritingInPlace(bool writing) noexcept override { events.push_back(writing ? "[" : "]"); }
};

TEST_F(SaveTest, ListenerIsToldOfTheTemporaryFileHeld) {
  struct Case {
    const char* what;
    const char* path;
    bool save;
    std::size_t write_budget;  // SIZE_MAX: no write fails
    std::vector<std::string> events;
  };
  const Case cases[] = {
      {"saved", "out.txt", true, SIZE_MAX, {"+gone", "-gone"}},
      {"a write that fails", "out.txt", false, 100, {"+gone", "-gone"}},
      {"never saved", "out.txt", false, SIZE_MAX, {"+gone", "-gone"}},
      {"a spool, written in place", kNullDevice, true, SIZE_MAX, {"[", "]"}},
  };
  platform_.api().write = WriteWithinBudget;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Faults::write_budget = c.write_budget;
    HeldFiles held;
    {
      quorvel::LineWriter out(c.path, &held);
      for (int i = 0; i < 100000; ++i) out.AppendLine("a line that fills several buffers");
      if (c.save) out.Save();
    }
    EXPECT_EQ(held.events, c.events);
    if (std::string_view(c.path) == "out.txt") {
      EXPECT_EQ(held.name.substr(0, 9), "out.txt.~");
    }
    std::remove("out.txt");
  }
}

// Gives the file `existing` the further name `name`.
bool AddName(const char* existing, const char* name) {
#ifdef _WIN32
  return CreateHardLinkA(name, existing, nullptr) != 0;
#else
  return ::link(existing, name) == 0;
#endif
}

// Makes `name` a symbolic link to `to`; false where the test cannot (on
// Windows itself; under Wine the Unix side makes it).
bool MakeLink(const std::string& to, const std::string& name) {
#ifdef _WIN32
  return qtest::RunUnix("ln -s " + to + " " + name) == 0;
#else
  return ::symlink(to.c_str(), name.c_str()) == 0;
#endif
}

// A disk with room for the spool but none to spare for the target opened in
// place: it may hold no more than `room` bytes.
struct TightDisk {
  static inline platform::Handle target = platform::kNoHandle;
  static inline std::uint64_t room = 0;
  static inline std::uint64_t at = 0;  // the target's write position
};

void InstallTightDisk(platform::Api& api) {
  api.open_in_place = [](const char* path, const platform::FileInfo* expected,
                         platform::Handle* h) {
    if (const platform::Error error = platform::Native().open_in_place(path, expected, h))
      return error;
    TightDisk::target = *h;
    TightDisk::at = 0;
    return platform::Error{0};
  };
  api.reserve = [](platform::Handle h, std::uint64_t size) {
    if (h == TightDisk::target && size > TightDisk::room) return platform::Error{ENOSPC};
    return platform::Native().reserve(h, size);
  };
  api.write = [](platform::Handle h, const char* bytes, std::size_t size) -> std::ptrdiff_t {
    if (h != TightDisk::target) return platform::Native().write(h, bytes, size);
    const std::uint64_t left = TightDisk::room - std::min(TightDisk::room, TightDisk::at);
    if (left == 0) return -std::ptrdiff_t{ENOSPC};
    const std::ptrdiff_t n =
        platform::Native().write(h, bytes, std::min<std::uint64_t>(size, left));
    if (n > 0) TightDisk::at += static_cast<std::uint64_t>(n);
    return n;
  };
}

// A file rewritten in place gets room for its new length before a byte of it
// is written over: a disk without that room fails the save with the file
// whole (both its names still show the old content). A shorter output is cut
// to its length.
TEST_F(SaveTest, RewriteInPlaceReservesItsLengthFirst) {
  InstallTightDisk(platform_.api());
  WriteFile("in.txt", "a\tb");
  ASSERT_EQ(Quorvel_TXT2XML("in.txt", "expected.xml", 100, "N", "Q"), QUORVEL_RESULT_OK);
  const std::string small = ReadFile("expected.xml");
  std::remove("expected.xml");
  struct Case {
    std::string previous;
    std::string input;
    const char* message;  // "" for success
  };
  const Case cases[] = {{"previous", LargeInput(), "Stream write error"},
                        {std::string(5 << 20, 'x'), "a\tb", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.previous.size());
    WriteFile("in.txt", c.input);
    WriteFile("out.xml", c.previous);
    ASSERT_TRUE(AddName("out.xml", "second.xml"));  // rewritten in place
    TightDisk::room = c.previous.size();
    const std::string identity = FileIdentity("out.xml");
    const int32_t result = Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q");
    EXPECT_EQ(LastError(), c.message);
    EXPECT_EQ(result, c.message[0] == '\0' ? QUORVEL_RESULT_OK : QUORVEL_RESULT_FAILED);
    const std::string expected = c.message[0] == '\0' ? small : c.previous;
    EXPECT_TRUE(ReadFile("out.xml") == expected) << "out.xml holds " << ReadFile("out.xml").size();
    EXPECT_TRUE(ReadFile("second.xml") == expected);
    EXPECT_EQ(FileIdentity("out.xml"), identity);
    EXPECT_EQ(Leftovers().size(), 3u);
    std::remove("second.xml");
  }
}

#ifdef _WIN32
// Another file put at the path of a file to be rewritten in place, after it
// was inspected, is not written (the file index tells them apart).
TEST_F(SaveTest, AnotherFilePutInPlaceOfARewriteIsNotWritten) {
  platform_.api().open_in_place = [](const char* path, const platform::FileInfo* expected,
                                     platform::Handle* h) {
    EXPECT_NE(DeleteFileA("out.xml"), 0);
    EXPECT_NE(MoveFileA("other", "out.xml"), 0);
    return platform::Native().open_in_place(path, expected, h);
  };
  WriteFile("in.txt", "a");
  WriteFile("out.xml", "previous");
  ASSERT_TRUE(AddName("out.xml", "second.xml"));  // rewritten in place
  WriteFile("other", "other");
  EXPECT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_FAILED);
  EXPECT_EQ(LastError(), "Cannot create file out.xml");
  EXPECT_EQ(ReadFile("out.xml"), "other");
  EXPECT_EQ(ReadFile("second.xml"), "previous");
}
#endif

// What the file gains while a large output is converted is kept: the choice
// to replace it is made as the first megabyte goes out, long before the save,
// and a second name or extended attributes gained meanwhile still make the
// save rewrite it in place.
struct Gain {
  const char* what;
  bool (*make)();  // gives "out.xml" the thing
  bool (*kept)();  // whether "out.xml" has it still
  static inline bool (*making)() = nullptr;
};

TEST_F(SaveTest, WhatTheFileGainsDuringTheConversionIsKept) {
  std::vector<Gain> gains = {{"a second name", [] { return AddName("out.xml", "second.xml"); },
                              [] { return ReadFile("second.xml") == ReadFile("out.xml"); }}};
#ifndef _WIN32
  gains.push_back({"a user attribute",
                   [] { return ::setxattr("out.xml", "user.origin", "x", 1, 0) == 0; },
                   [] { return ::getxattr("out.xml", "user.origin", nullptr, 0) == 1; }});
#endif
  platform_.api().resolve = [](const char* path, platform::Resolved* resolved) {
    const platform::Error error = platform::Native().resolve(path, resolved);
    EXPECT_TRUE(Gain::making());
    return error;
  };
  WriteFile("in.txt", LargeInput());
  for (const Gain& gain : gains) {
    SCOPED_TRACE(gain.what);
    Gain::making = gain.make;
    WriteFile("out.xml", "previous");
    const std::string identity = FileIdentity("out.xml");
    ASSERT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_OK)
        << LastError();
    EXPECT_EQ(FileIdentity("out.xml"), identity) << "the file was replaced";
    EXPECT_GT(ReadFile("out.xml").size(), std::size_t{3} << 20);
    EXPECT_TRUE(gain.kept());
    std::remove("second.xml");
    std::remove("out.xml");
    EXPECT_EQ(Leftovers(), std::vector<std::string>{"in.txt"});
  }
}

// A link to nothing yet: the file at its end that the save learns its place
// from is gone again before the conversion goes on, so a file another
// program writes there meanwhile is its own, and a failed conversion leaves
// it alone (and the link too).
TEST_F(SaveTest, FileMadeAtALinksEndMeanwhileIsNotTheSavesToRemove) {
  qtest::MakeDir("real");
  if (!MakeLink("real/new.xml", "dangling.xml")) GTEST_SKIP() << "no symbolic links here";
  platform_.api().resolve = [](const char* path, platform::Resolved* resolved) {
    const platform::Error error = platform::Native().resolve(path, resolved);
    EXPECT_EQ(qtest::ListDir("real").size(), 0u) << "the probe was left";
    WriteFile("real/new.xml", "theirs");
    return error;
  };
  WriteFile("in.txt", LargeInput("bad"));
  EXPECT_EQ(Quorvel_TXT2XML("in.txt", "dangling.xml", 100, "N", "Q"), QUORVEL_RESULT_FAILED);
  EXPECT_EQ(LastError(), "'bad' is not a valid integer value");
  EXPECT_EQ(ReadFile("real/new.xml"), "theirs");
  std::vector<std::string> names = Leftovers();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"dangling.xml", "in.txt", "real"}));
}

#ifdef _WIN32
// ReplaceFileA stopping half-way (ERROR_UNABLE_TO_MOVE_REPLACEMENT): the old
// file deleted, the new one still under its temporary name. Under Wine,
// whose replace is one move, the first move stands in for it.
struct HalfWay {
  static inline int calls = 0;
  static inline bool moves_fail = false;
};

BOOL WINAPI ReplaceHalfWay(LPCSTR replaced, LPCSTR, LPCSTR, DWORD, LPVOID, LPVOID) {
  ++HalfWay::calls;
  DeleteFileA(replaced);
  SetLastError(ERROR_UNABLE_TO_MOVE_REPLACEMENT);
  return FALSE;
}

BOOL WINAPI MoveAfterHalfWay(LPCSTR from, LPCSTR to, DWORD flags) {
  if (HalfWay::calls++ == 0) return ReplaceHalfWay(to, from, nullptr, 0, nullptr, nullptr);
  if (HalfWay::moves_fail) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  return MoveFileExA(from, to, flags);
}

// A replace that stops half-way is finished by a move; where every try of
// the move fails too, the save fails and the new content stays in the
// temporary file: the temporary file is never removed while the target is
// missing.
TEST_F(SaveTest, ReplaceThatStopsHalfWayIsFinishedOrKeepsTheNewContent) {
  ASSERT_TRUE(platform_.SetSystemCall("ReplaceFileA", &ReplaceHalfWay));
  ASSERT_TRUE(platform_.SetSystemCall("MoveFileExA", &MoveAfterHalfWay));
  WriteFile("in.txt", "a\tb");
  for (const bool moves_fail : {false, true}) {
    SCOPED_TRACE(moves_fail);
    HalfWay::calls = 0;
    HalfWay::moves_fail = moves_fail;
    WriteFile("out.xml", "previous");
    const int32_t result = Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q");
    std::vector<std::string> names = Leftovers();
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], "in.txt");
    if (!moves_fail) {
      EXPECT_EQ(result, QUORVEL_RESULT_OK) << LastError();
      EXPECT_EQ(names[1], "out.xml");
    } else {
      EXPECT_EQ(result, QUORVEL_RESULT_FAILED);
      EXPECT_EQ(LastError(), "Cannot create file out.xml");
      EXPECT_EQ(names[1].substr(0, 9), "out.xml.~");
    }
    EXPECT_NE(ReadFile(names[1]).find("<row id=\"1\">"), std::string::npos);
    DeleteFileA(names[1].c_str());
  }
}

DWORD WINAPI NoFinalPath(HANDLE, LPSTR, DWORD, DWORD) {
  SetLastError(ERROR_INVALID_FUNCTION);
  return 0;
}

DWORD WINAPI OnlyTheNameAsOpened(HANDLE h, LPSTR path, DWORD size, DWORD flags) {
  if ((flags & FILE_NAME_OPENED) == 0) return NoFinalPath(h, path, size, flags);
  return GetFinalPathNameByHandleA(h, path, size, flags);
}

// File systems that cannot name a file's normalized path (RAM disks, some
// network shares): a plain file is saved all the same; a link is followed
// through the name as opened, and where no name can be had at all, written
// through in place. The link stays either way.
TEST_F(SaveTest, FilesWhosePathTheSystemCannotNameAreSaved) {
  ASSERT_TRUE(platform_.SetSystemCall("GetFinalPathNameByHandleA", &NoFinalPath));
  WriteFile("in.txt", "a\tb");
  WriteFile("out.xml", "previous");
  EXPECT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_OK) << LastError();
  EXPECT_NE(ReadFile("out.xml").find("<row id=\"1\">"), std::string::npos);
  EXPECT_EQ(Leftovers().size(), 2u);
  qtest::MakeDir("real");
  if (!MakeLink("real/target.xml", "link.xml")) GTEST_SKIP() << "no symbolic links here";
  for (const auto call : {&OnlyTheNameAsOpened, &NoFinalPath}) {
    SCOPED_TRACE(call == &NoFinalPath ? "no name" : "the name as opened");
    ASSERT_TRUE(platform_.SetSystemCall("GetFinalPathNameByHandleA", call));
    WriteFile("real/target.xml", "previous");
    const std::string identity = FileIdentity("real/target.xml");
    EXPECT_EQ(Quorvel_TXT2XML("in.txt", "link.xml", 100, "N", "Q"), QUORVEL_RESULT_OK)
        << LastError();
    EXPECT_NE(ReadFile("real/target.xml").find("<row id=\"1\">"), std::string::npos);
    if (call == &NoFinalPath) {
      EXPECT_EQ(FileIdentity("real/target.xml"), identity) << "the file was replaced";
    }
    EXPECT_EQ(qtest::RunUnix("test -L link.xml"), 0);
    EXPECT_EQ(qtest::ListDir("real").size(), 1u);
  }
}

// The access list of the file at `path` as SDDL text, or why it cannot be
// read. Asks for READ_CONTROL only, which no sharing mode refuses.
std::string AccessList(const std::string& path) {
  alignas(8) char descriptor[4096];
  DWORD needed = 0;
  char* text = nullptr;
  if (!GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor, sizeof descriptor,
                        &needed) ||
      !ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    return "<unreadable: " + std::to_string(GetLastError()) + ">";
  }
  std::string list = text;
  LocalFree(text);
  return list;
}

// The user this process runs as, as SDDL text.
std::string CallerSid() {
  HANDLE token = nullptr;
  alignas(8) char user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  char* text = nullptr;
  std::string sid;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
      GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
      ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &text)) {
    sid = text;
    LocalFree(text);
  }
  if (token != nullptr) CloseHandle(token);
  return sid;
}

// Looks at a save's temporary file at each check before the replace, once
// it exists (the listener learns its name before it does): its access list,
// and whether another program can open it to read (0, or the error the open
// failed with).
struct TemporaryWatch : quorvel::TemporaryListener {
  static inline std::string name;
  static inline std::string access_list;
  static inline std::vector<DWORD> opens;
  void Held(std::string_view path, bool held) noexcept override {
    if (held) {
      name = path;
    } else if (name == path) {
      name.clear();
    }
  }
  static void TryOpen() {
    if (name.empty() || GetFileAttributesA(name.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    if (access_list.empty()) access_list = AccessList(name);
    const HANDLE h = CreateFileA(name.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    opens.push_back(h == INVALID_HANDLE_VALUE ? GetLastError() : 0);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

// The temporary file that is to replace a file grants nobody what the file
// does not: it has the file's access list from the start, or where that
// cannot be its model (a long name's temporary file, made under the folder
// alone), one that grants the caller alone. Nobody else can open it while
// the save holds it, up to the replacement, which opens it exclusively
// itself.
TEST_F(SaveTest, TemporaryFileGrantsNoMoreThanItsTargetAndIsHeldUntilTheReplace) {
  const std::string sid = CallerSid();
  ASSERT_FALSE(sid.empty());
  const std::string owner_only = "D:P(A;;FA;;;" + sid + ")";
  const std::string everyone_reads = "D:P(A;;FA;;;" + sid + ")(A;;FR;;;WD)";
  // The list as the system keeps it (Wine keeps it as a Unix mode).
  const auto kept = [](const std::string& sddl, const std::string& path) {
    PSECURITY_DESCRIPTOR wanted = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                              &wanted, nullptr)) {
      return std::string("<bad SDDL>");
    }
    const bool set = SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, wanted);
    LocalFree(wanted);
    return set ? AccessList(path) : "<not set: " + std::to_string(GetLastError()) + ">";
  };
  platform_.api().open_path = [](const char* path, platform::Handle* h) {
    TemporaryWatch::TryOpen();  // the target's checks before the replace
    return platform::Native().open_path(path, h);
  };
  char folder[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, folder), 0u);
  WriteFile("model", "");
  const std::string target_list = kept(everyone_reads, "model");
  const std::string callers_list = kept(owner_only, "model");
  ASSERT_NE(target_list, callers_list);
  DeleteFileA("model");
  struct Case {
    std::string path;
    const std::string& temporary_list;
  };
  const Case cases[] = {{"out.xml", target_list},
                        {std::string(250 - std::strlen(folder) - 1, 'n'), callers_list}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.size());
    WriteFile(c.path, "previous");
    ASSERT_EQ(kept(everyone_reads, c.path), target_list);
    TemporaryWatch watch;
    TemporaryWatch::name.clear();
    TemporaryWatch::access_list.clear();
    TemporaryWatch::opens.clear();
    {
      quorvel::LineWriter out(c.path.c_str(), &watch);
      out.AppendLine("new");
      out.Save();
    }
    EXPECT_EQ(ReadFile(c.path), "new\r\n");
    EXPECT_EQ(TemporaryWatch::access_list, c.temporary_list);
    EXPECT_EQ(TemporaryWatch::opens, std::vector<DWORD>(2, ERROR_SHARING_VIOLATION));
    DeleteFileA(c.path.c_str());
  }
}
#endif

#ifndef _WIN32
TEST_F(SaveTest, SymbolicLinksAreFollowedAndKept) {
  qtest::MakeDir("real");
  WriteFile("real/target.xml", "previous");
  ASSERT_EQ(::symlink("real/target.xml", "link.xml"), 0);
  ASSERT_EQ(::symlink("real/new.xml", "dangling.xml"), 0);
  WriteFile("in.txt", "a");
  ASSERT_EQ(Quorvel_TXT2XML("in.txt", "link.xml", 100, "N", "Q"), QUORVEL_RESULT_OK);
  ASSERT_EQ(Quorvel_TXT2XML("in.txt", "dangling.xml", 100, "N", "Q"), QUORVEL_RESULT_OK);
  struct stat st;
  ASSERT_EQ(::lstat("link.xml", &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_NE(ReadFile("real/target.xml").find("<row id=\"1\">"), std::string::npos);
  EXPECT_NE(ReadFile("real/new.xml").find("<row id=\"1\">"), std::string::npos);
  std::vector<std::string> names = qtest::ListDir("real");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"new.xml", "target.xml"}));
}

// Only a file about to be replaced has its cached pages released, once,
// under the name of the file itself (a link's destination), and it is
// replaced all the same; a new file, a device and a file rewritten in place
// have nothing to release.
TEST_F(SaveTest, OnlyAFileAboutToBeReplacedHasItsCacheReleased) {
  static std::vector<std::string> released;  // which files, by identity
  platform_.api().release_cache = [](const char* path) {
    released.push_back(FileIdentity(path));
    platform::Native().release_cache(path);
  };
  qtest::MakeDir("real");
  WriteFile("real/target.xml", "previous");
  ASSERT_EQ(::symlink("real/target.xml", "link.xml"), 0);
  WriteFile("old.xml", "previous");
  WriteFile("linked.xml", "previous");
  ASSERT_EQ(::link("linked.xml", "second.xml"), 0);
  WriteFile("in.txt", "a");
  struct Case {
    const char* output;
    std::vector<std::string> released;
    const char* written;  // the file that then holds the document
  };
  const Case cases[] = {
      {"new.xml", {}, "new.xml"},
      {"old.xml", {"old.xml"}, "old.xml"},
      {"link.xml", {"real/target.xml"}, "real/target.xml"},
      {"linked.xml", {}, "second.xml"},
      {"/dev/null", {}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    std::vector<std::string> expected;
    for (const std::string& name : c.released) expected.push_back(FileIdentity(name));
    released.clear();
    ASSERT_EQ(Quorvel_TXT2XML("in.txt", c.output, 100, "N", "Q"), QUORVEL_RESULT_OK);
    EXPECT_EQ(released, expected);
    if (c.written != nullptr) {
      EXPECT_NE(ReadFile(c.written).find("<row id=\"1\">"), std::string::npos);
    }
  }
}

// Loops and chains longer than the system follows are the system's
// refusals: nothing is written and every link stays. A chain that ends at
// nothing creates the file at its end; a conversion that then fails removes
// that file again.
TEST_F(SaveTest, LinksTheSystemRefusesWriteNothing) {
  WriteFile("in.txt", LargeInput());
  ASSERT_EQ(::symlink("b", "a"), 0);
  ASSERT_EQ(::symlink("a", "b"), 0);
  WriteFile("real.xml", "previous");
  // l0 -> l1 -> ... -> l40 -> real.xml: 41 links, one more than Linux follows.
  for (int i = 0; i <= 40; ++i) {
    const std::string to = i == 40 ? "real.xml" : "l" + std::to_string(i + 1);
    ASSERT_EQ(::symlink(to.c_str(), ("l" + std::to_string(i)).c_str()), 0);
  }
  for (const char* path : {"a", "l0"}) {
    EXPECT_EQ(Quorvel_TXT2XML("in.txt", path, 100, "N", "Q"), QUORVEL_RESULT_FAILED);
    EXPECT_EQ(LastError(), std::string("Cannot create file ") + path);
  }
  for (const std::string& name : Leftovers()) {
    struct stat st;
    ASSERT_EQ(::lstat(name.c_str(), &st), 0);
    EXPECT_EQ(S_ISLNK(st.st_mode), name != "in.txt" && name != "real.xml") << name;
  }
  EXPECT_EQ(ReadFile("real.xml"), "previous");
  EXPECT_EQ(Leftovers().size(), 45u);

  qtest::MakeDir("real");
  ASSERT_EQ(::symlink("d2", "d1"), 0);
  ASSERT_EQ(::symlink("real/new.xml", "d2"), 0);
  WriteFile("in.txt", LargeInput("bad"));
  EXPECT_EQ(Quorvel_TXT2XML("in.txt", "d1", 100, "N", "Q"), QUORVEL_RESULT_FAILED);
  EXPECT_EQ(LastError(), "'bad' is not a valid integer value");
  EXPECT_EQ(qtest::ListDir("real").size(), 0u) << "the file at the link's end was left";
  WriteFile("in.txt", LargeInput());
  ASSERT_EQ(Quorvel_TXT2XML("in.txt", "d1", 100, "N", "Q"), QUORVEL_RESULT_OK);
  EXPECT_GT(ReadFile("real/new.xml").size(), std::size_t{3} << 20);
  EXPECT_EQ(qtest::ListDir("real").size(), 1u);
}

// A replacement takes the target's permission bits as they are, where the
// umask would have changed those of a new file; a new file gets what
// creating it directly would give.
TEST_F(SaveTest, ReplacedFileKeepsItsPermissionBits) {
  WriteFile("in.txt", "a");
  const mode_t mask = ::umask(022);
  for (const mode_t mode : {0666u, 0640u, 06755u, 0600u}) {
    WriteFile("out.xml", "previous");
    ASSERT_EQ(::chmod("out.xml", mode), 0);
    ASSERT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_OK);
    struct stat st;
    ASSERT_EQ(::stat("out.xml", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
  }
  ASSERT_EQ(Quorvel_TXT2XML("in.txt", "new.xml", 100, "N", "Q"), QUORVEL_RESULT_OK);
  ::umask(mask);
  struct stat st;
  ASSERT_EQ(::stat("new.xml", &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

// A file with more than one name, or with extended attributes (an access
// list among them), would lose them to a replacement: it is rewritten in
// place and keeps them.
TEST_F(SaveTest, LinkedFilesAndFilesWithAttributesAreRewrittenInPlace) {
  WriteFile("in.txt", "a");
  // An access list granting user 12345 read access: version 2, then
  // entries of tag, permissions and id.
  const unsigned char acl[] = {2,    0, 0, 0,                           // version
                               1,    0, 6, 0, 0xFF, 0xFF, 0xFF, 0xFF,   // owner rw
                               2,    0, 4, 0, 0x39, 0x30, 0,    0,      // user 12345 r
                               4,    0, 4, 0, 0xFF, 0xFF, 0xFF, 0xFF,   // group r
                               0x10, 0, 4, 0, 0xFF, 0xFF, 0xFF, 0xFF,   // mask r
                               0x20, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};  // others none
  struct Case {
    const char* what;
    const char* attribute;
    const void* value;
    std::size_t size;
  };
  const Case cases[] = {{"a second name", nullptr, nullptr, 0},
                        {"a user attribute", "user.origin", "x", 1},
                        {"an access list", "system.posix_acl_access", acl, sizeof acl}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile("out.xml", "previous");
    if (c.attribute == nullptr) {
      ASSERT_EQ(::link("out.xml", "second.xml"), 0);
    } else {
      // (A file system without them fails here: the case is not dropped.)
      ASSERT_EQ(::setxattr("out.xml", c.attribute, c.value, c.size, 0), 0) << std::strerror(errno);
    }
    const std::string identity = FileIdentity("out.xml");
    ASSERT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_OK);
    EXPECT_EQ(FileIdentity("out.xml"), identity);
    EXPECT_NE(ReadFile("out.xml").find("<row id=\"1\">"), std::string::npos);
    if (c.attribute == nullptr) {
      EXPECT_EQ(ReadFile("second.xml"), ReadFile("out.xml"));
      ::unlink("second.xml");
    } else {
      EXPECT_EQ(::getxattr("out.xml", c.attribute, nullptr, 0), static_cast<ssize_t>(c.size));
    }
    ::unlink("out.xml");
    EXPECT_EQ(Leftovers().size(), 1u);
  }
}

// A file rewritten in place is locked meanwhile: a lock another process
// holds on it makes the save fail as a file held open elsewhere would,
// after a few moments, and writes nothing.
TEST_F(SaveTest, FileLockedByAnotherProcessIsNotRewritten) {
  WriteFile("in.txt", "a");
  WriteFile("out.xml", "previous");
  ASSERT_EQ(::link("out.xml", "second.xml"), 0);  // rewritten in place
  int locked[2], done[2];
  ASSERT_EQ(::pipe(locked), 0);
  ASSERT_EQ(::pipe(done), 0);
  const pid_t holder = ::fork();
  if (holder == 0) {
    const int fd = ::open("out.xml", O_RDWR);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    char byte = ::fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
    (void)!::write(locked[1], &byte, 1);
    (void)!::read(done[0], &byte, 1);
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(locked[0], &byte, 1), 1);
  ASSERT_EQ(byte, 'y');
  EXPECT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_FAILED);
  EXPECT_EQ(LastError(), "Cannot create file out.xml");
  EXPECT_EQ(ReadFile("out.xml"), "previous");
  (void)!::write(done[1], "x", 1);
  ::waitpid(holder, nullptr, 0);
  for (int fd : {locked[0], locked[1], done[0], done[1]}) ::close(fd);
  EXPECT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_OK);
  EXPECT_EQ(ReadFile("second.xml"), ReadFile("out.xml"));
}

// Runs a conversion of "in.txt" to `output` in a child process with the
// given user and groups; its result, and the message after a failure.
std::pair<int, std::string> ConvertAs(uid_t uid, gid_t gid, std::vector<gid_t> groups,
                                      const char* output) {
  int channel[2];
  if (::pipe(channel) != 0) return {-2, "no pipe"};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(channel[0]);
    if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(gid) != 0 ||
        ::setuid(uid) != 0) {
      ::_exit(3);
    }
    const int32_t result = Quorvel_TXT2XML("in.txt", output, 100, "N", "Q");
    const std::string message = LastError();
    (void)!::write(channel[1], message.data(), message.size());
    ::_exit(result == QUORVEL_RESULT_OK ? 0 : 1);
  }
  ::close(channel[1]);
  char message[512];
  const ssize_t n = ::read(channel[0], message, sizeof message);
  ::close(channel[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return {code == 0   ? QUORVEL_RESULT_OK
          : code == 1 ? QUORVEL_RESULT_FAILED
                      : -code,
          std::string(message, n > 0 ? static_cast<std::size_t>(n) : 0)};
}

// A save never changes who may use the file: where the caller cannot give a
// new file the target's owner and group (a member of a group sharing the
// file, the owner of a file in a group it is not in), or the folder takes no
// new file, the target is rewritten in place; where it can, the replacement
// takes them, setgid included. Run by a child that gives up
// root for the real system's rules.
TEST_F(SaveTest, SaveKeepsWhoMayUseTheFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as other users";
  constexpr uid_t kCaller = 64101, kOwner = 64102;
  constexpr gid_t kShared = 64201, kOther = 64202;
  ASSERT_EQ(::chmod(".", 0777), 0);
  WriteFile("in.txt", LargeInput());
  struct Case {
    const char* what;
    uid_t owner;
    gid_t group;
    mode_t mode;
    mode_t folder;
    bool replaced;
  };
  const Case cases[] = {
      {"another owner, a shared group", kOwner, kShared, 0664, 0777, false},
      {"own file in a group not the caller's", kCaller, kOther, 0664, 0777, false},
      {"own file in the shared group, setgid", kCaller, kShared, 02775, 0777, true},
      {"another owner's file in a folder taking no new file", kOwner, kShared, 0666, 0555, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    qtest::MakeDir("d");
    WriteFile("d/out.xml", "previous");
    ASSERT_EQ(::chown("d/out.xml", c.owner, c.group), 0);
    ASSERT_EQ(::chmod("d/out.xml", c.mode), 0);
    ASSERT_EQ(::chmod("d", c.folder), 0);
    const std::string identity = FileIdentity("d/out.xml");
    const auto [result, message] = ConvertAs(kCaller, kShared, {kShared}, "d/out.xml");
    ASSERT_EQ(result, QUORVEL_RESULT_OK) << message;
    struct stat st;
    ASSERT_EQ(::stat("d/out.xml", &st), 0);
    EXPECT_EQ(st.st_uid, c.owner);
    EXPECT_EQ(st.st_gid, c.group);
    EXPECT_EQ(st.st_mode & 07777, c.mode);
    EXPECT_EQ(FileIdentity("d/out.xml") == identity, !c.replaced);
    EXPECT_GT(ReadFile("d/out.xml").size(), std::size_t{3} << 20);
    EXPECT_EQ(qtest::ListDir("d").size(), 1u);
    ::chmod("d", 0777);
    std::filesystem::remove_all("d");
  }
}

// Links the system refuses to follow for this caller are refused by the
// save too: into a folder it may not search, and, where the system protects
// them (fs.protected_symlinks), links of another user in a shared sticky
// folder.
TEST_F(SaveTest, LinkIntoAFolderTheCallerMayNotSearchWritesNothing) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as other users";
  constexpr uid_t kCaller = 64101;
  ASSERT_EQ(::chmod(".", 0777), 0);
  WriteFile("in.txt", "a");
  qtest::MakeDir("private");
  WriteFile("private/out.xml", "previous");
  ASSERT_EQ(::chmod("private", 0700), 0);
  ASSERT_EQ(::symlink("private/out.xml", "hidden.xml"), 0);
  EXPECT_EQ(ConvertAs(kCaller, kCaller, {}, "hidden.xml"),
            std::pair(int{QUORVEL_RESULT_FAILED}, std::string("Cannot create file hidden.xml")));
  EXPECT_EQ(ReadFile("private/out.xml"), "previous");
}

TEST_F(SaveTest, ProtectedLinkOfAnotherUserWritesNothing) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as other users";
  constexpr uid_t kCaller = 64101, kOwner = 64102;
  ASSERT_EQ(::chmod(".", 0777), 0);
  WriteFile("in.txt", "a");
  std::FILE* setting = std::fopen("/proc/sys/fs/protected_symlinks", "r");
  const int protection = setting != nullptr ? std::fgetc(setting) : EOF;
  if (setting != nullptr) std::fclose(setting);
  if (protection != '1') GTEST_SKIP() << "fs.protected_symlinks is off on this machine";
  qtest::MakeDir("shared");
  ASSERT_EQ(::chmod("shared", 01777), 0);
  WriteFile("target.xml", "previous");
  ASSERT_EQ(::chmod("target.xml", 0666), 0);
  ASSERT_EQ(::symlink("../target.xml", "shared/out.xml"), 0);
  ASSERT_EQ(::lchown("shared/out.xml", kOwner, kOwner), 0);
  EXPECT_EQ(
      ConvertAs(kCaller, kCaller, {}, "shared/out.xml"),
      std::pair(int{QUORVEL_RESULT_FAILED}, std::string("Cannot create file shared/out.xml")));
  EXPECT_EQ(ReadFile("target.xml"), "previous");
}

// Output for a device needs no more memory than the writer's buffer,
// however large it is (the high-water mark of this process, reset first).
TEST_F(SaveTest, DeviceOutputNeedsNoMoreMemoryThanTheBuffer) {
  std::FILE* reset = std::fopen("/proc/self/clear_refs", "w");
  ASSERT_NE(reset, nullptr) << "the memory high-water mark cannot be reset here";
  ASSERT_TRUE(std::fputs("5", reset) >= 0 && std::fclose(reset) == 0)
      << "the memory high-water mark cannot be reset here";
  const auto high_water_kib = [] {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    char line[256];
    long kib = -1;
    while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr) {
      if (std::strncmp(line, "VmHWM:", 6) == 0) kib = std::atol(line + 6);
    }
    if (status != nullptr) std::fclose(status);
    return kib;
  };
  const long before = high_water_kib();
  {
    quorvel::LineWriter out("/dev/null");
    const std::string line(1000, 'x');
    for (int i = 0; i < 128 * 1024; ++i) out.AppendLine(line);  // 128 MiB
    out.Save();
  }
  EXPECT_LT(high_water_kib() - before, 32 * 1024);
}

// Root may write any file: as root the conversion runs as another user,
// the file's owner, so that the system's rule is the one met.
TEST_F(SaveTest, ReadOnlyTargetCannotBeReplaced) {
  WriteFile("in.txt", "a");
  WriteFile("out.xml", "previous");
  ASSERT_EQ(::chmod("out.xml", 0444), 0);
  std::pair<int, std::string> outcome;
  if (::geteuid() == 0) {
    constexpr uid_t kCaller = 64101;
    ASSERT_EQ(::chmod(".", 0777), 0);
    ASSERT_EQ(::chown("out.xml", kCaller, kCaller), 0);
    outcome = ConvertAs(kCaller, kCaller, {}, "out.xml");
  } else {
    outcome.first = Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q");
    outcome.second = LastError();
  }
  EXPECT_EQ(outcome,
            std::pair(int{QUORVEL_RESULT_FAILED}, std::string("Cannot create file out.xml")));
  EXPECT_EQ(ReadFile("out.xml"), "previous");
  EXPECT_EQ(Leftovers().size(), 2u);
}

// A file put at the target's name while the save runs (a link to another
// file, another name of another file, another file), before the target's
// owner is taken over or just before the replace, is neither replaced nor
// written through: the save fails with "Cannot create file", and the file
// put there, the file it leads to and their owners and modes stay as they
// were. The new content never becomes a file with another file's setuid
// mode.
struct Swap {
  enum When { kInspected, kFlushed };
  static inline void (*make)() = nullptr;  // makes "swapped", renamed over "out.xml"
  static inline When at = kInspected;
  static inline bool done = false;
  static void Now(When when) {
    if (done || when != at) return;
    done = true;
    make();
    EXPECT_EQ(std::rename("swapped", "out.xml"), 0);
  }
};

TEST_F(SaveTest, AFileSwappedInDuringTheSaveIsNeitherReplacedNorWrittenThrough) {
  struct Case {
    const char* what;
    void (*make)();
    bool link;            // out.xml is then a symbolic link
    const char* content;  // what out.xml then holds
    mode_t mode;          // and its mode
  };
  const Case cases[] = {
      {"a link to another file", [] { (void)!::symlink("victim", "swapped"); }, true, "victim",
       04755},
      {"another name of another file", [] { (void)!::link("victim", "swapped"); }, false, "victim",
       04755},
      {"another file", [] { WriteFile("swapped", "other"); }, false, "other", 0644},
  };
  WriteFile("in.txt", "a");
  const mode_t mask = ::umask(022);
  platform_.api().release_cache = [](const char*) { Swap::Now(Swap::kInspected); };
  platform_.api().flush = [](platform::Handle h) {
    Swap::Now(Swap::kFlushed);
    return platform::Native().flush(h);
  };
  for (const Case& c : cases) {
    for (const Swap::When at : {Swap::kInspected, Swap::kFlushed}) {
      SCOPED_TRACE(std::string(c.what) + (at == Swap::kFlushed ? ", just before the replace" : ""));
      WriteFile("victim", "victim");
      ASSERT_EQ(::chmod("victim", 04755), 0);
      WriteFile("out.xml", "previous");
      Swap::make = c.make;
      Swap::at = at;
      Swap::done = false;
      EXPECT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_FAILED);
      EXPECT_EQ(LastError(), "Cannot create file out.xml");
      EXPECT_TRUE(Swap::done);
      struct stat st;
      ASSERT_EQ(::lstat("out.xml", &st), 0);
      EXPECT_EQ(S_ISLNK(st.st_mode), c.link);
      ASSERT_EQ(::stat("out.xml", &st), 0);
      EXPECT_EQ(st.st_mode & 07777, c.mode);
      EXPECT_EQ(ReadFile("out.xml"), c.content);
      ASSERT_EQ(::stat("victim", &st), 0);
      EXPECT_EQ(st.st_mode & 07777, 04755u);
      EXPECT_EQ(ReadFile("victim"), "victim");
      std::vector<std::string> names = Leftovers();
      std::sort(names.begin(), names.end());
      EXPECT_EQ(names, (std::vector<std::string>{"in.txt", "out.xml", "victim"}));
      std::remove("out.xml");
      std::remove("victim");
    }
  }
  ::umask(mask);
}

// What is put at the path of a target to be rewritten in place (a file with
// a second name, a FIFO with a reader) after it was inspected and before it
// is opened is not written: not the file a link leads to, not another file,
// and a FIFO with no reader does not hold the conversion up. The save fails
// with "Cannot create file" and each file keeps its content.
TEST_F(SaveTest, WhatIsSwappedInBeforeARewriteInPlaceIsNotWritten) {
  struct Case {
    const char* what;
    void (*make)();
  };
  const Case swaps[] = {
      {"a link to another file", [] { (void)!::symlink("victim", "swapped"); }},
      {"another file", [] { WriteFile("swapped", "other"); }},
      {"a FIFO with no reader", [] { (void)!::mkfifo("swapped", 0600); }},
  };
  static void (*make)();
  static const char* target;
  platform_.api().open_in_place = [](const char* path, const platform::FileInfo* expected,
                                     platform::Handle* h) {
    make();
    EXPECT_EQ(std::rename("swapped", target), 0);
    return platform::Native().open_in_place(path, expected, h);
  };
  WriteFile("in.txt", "a");
  for (const char* name : {"out.xml", "pipe"}) {
    for (const Case& swap : swaps) {
      SCOPED_TRACE(std::string(name) + ", then " + swap.what);
      WriteFile("victim", "victim");
      int reader = -1;
      if (std::string_view(name) == "pipe") {
        ASSERT_EQ(::mkfifo("pipe", 0600), 0);
        reader = ::open("pipe", O_RDONLY | O_NONBLOCK);
      } else {
        WriteFile("out.xml", "previous");
        ASSERT_EQ(::link("out.xml", "second.xml"), 0);
      }
      make = swap.make;
      target = name;
      ::alarm(30);  // a call that waits for a reader ends the test
      EXPECT_EQ(Quorvel_TXT2XML("in.txt", name, 100, "N", "Q"), QUORVEL_RESULT_FAILED);
      ::alarm(0);
      EXPECT_EQ(LastError(), std::string("Cannot create file ") + name);
      EXPECT_EQ(ReadFile("victim"), "victim");
      if (&swap == &swaps[1]) {
        EXPECT_EQ(ReadFile(name), "other");
      }
      if (reader >= 0) ::close(reader);
      for (const char* left : {name, "victim", "second.xml"}) std::remove(left);
      EXPECT_EQ(Leftovers(), std::vector<std::string>{"in.txt"});
    }
  }
}

// The setuid and setgid bits go to a new file only with the owner and group
// they were set with. The caller's own file is replaced and keeps them: the
// owner is given first, as giving an owner clears them. Where the system
// leaves the owner as it was (here it is made to, as a file system that
// keeps no owners does) the mode is never given, and the target is
// rewritten in place instead. The other owner is real as root; otherwise
// the system is made to report it (no unprivileged caller, in a user
// namespace or not, can give a file an owner other than its own).
struct OwnerSeen {
  static inline bool kept_no_owner = false;  // set_owner does nothing
  static inline bool mode_given = false;
  static inline std::uint64_t target = 0;  // a file reported as 64102's, group 64202; 0 none
};

TEST_F(SaveTest, SetuidBitsGoOnlyWithTheirOwner) {
  platform_.api().set_owner = [](platform::Handle h, std::uint32_t owner, std::uint32_t group) {
    return OwnerSeen::kept_no_owner ? platform::Error{0}
                                    : platform::Native().set_owner(h, owner, group);
  };
  platform_.api().set_attributes = [](platform::Handle h, const platform::FileInfo& from) {
    OwnerSeen::mode_given = true;
    return platform::Native().set_attributes(h, from);
  };
  platform_.api().describe = [](platform::Handle h, platform::FileInfo* info) {
    const platform::Error error = platform::Native().describe(h, info);
    if (error == 0 && OwnerSeen::target != 0 && info->file == OwnerSeen::target) {
      info->owner = 64102;
      info->group = 64202;
    }
    return error;
  };
  const bool root = ::geteuid() == 0;
  WriteFile("in.txt", "a");
  for (const bool own : {true, false}) {
    SCOPED_TRACE(own ? "the caller's own file" : "another's, whose owner is not taken");
    WriteFile("out.xml", "previous");
    struct stat st;
    ASSERT_EQ(::stat("out.xml", &st), 0);
    OwnerSeen::kept_no_owner = !own;
    OwnerSeen::mode_given = false;
    OwnerSeen::target = own || root ? 0 : st.st_ino;
    if (!own && root) {
      ASSERT_EQ(::chown("out.xml", 64102, 64202), 0);
    }
    ASSERT_EQ(::chmod("out.xml", 06755), 0);
    const std::string identity = FileIdentity("out.xml");
    ASSERT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_OK)
        << LastError();
    EXPECT_EQ(OwnerSeen::mode_given, own);
    EXPECT_EQ(FileIdentity("out.xml") != identity, own) << "replaced or rewritten in place";
    ASSERT_EQ(::stat("out.xml", &st), 0);
    // (Rewritten in place by an unprivileged caller, the system clears
    // them, as it does for any such writer.)
    EXPECT_EQ(st.st_mode & 07777, own || root ? 06755u : 0755u);
    EXPECT_EQ(st.st_uid, !own && root ? 64102u : ::geteuid());
    EXPECT_NE(ReadFile("out.xml").find("<row id=\"1\">"), std::string::npos);
    EXPECT_EQ(Leftovers().size(), 2u);
    std::remove("out.xml");
  }
}

// A conversion into a pipe whose reader has gone fails with "Stream write
// error" in a host that keeps SIGPIPE's default action: no signal ends it,
// none is left pending for it, and its signal mask is as it was. A SIGPIPE
// the host itself holds pending (blocked) stays pending. Run in a child,
// which the signal would end.
TEST_F(SaveTest, PipeWhoseReaderHasGoneFailsWithoutASignal) {
  WriteFile("in.txt", LargeInput());
  for (const bool host_pending : {false, true}) {
    SCOPED_TRACE(host_pending ? "a SIGPIPE of the host's own pending" : "none pending");
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ::close(ends[0]);
    const std::string path = "/dev/fd/" + std::to_string(ends[1]);
    const pid_t child = ::fork();
    if (child == 0) {
      ::signal(SIGPIPE, SIG_DFL);
      sigset_t pipe_signal;
      sigemptyset(&pipe_signal);
      sigaddset(&pipe_signal, SIGPIPE);
      if (host_pending) {
        ::pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
        ::raise(SIGPIPE);
      }
      const int32_t result = Quorvel_TXT2XML("in.txt", path.c_str(), 100, "N", "Q");
      sigset_t pending, mask;
      ::sigpending(&pending);
      ::pthread_sigmask(SIG_SETMASK, nullptr, &mask);
      // Which check failed, for the parent to tell.
      if (result != QUORVEL_RESULT_FAILED) ::_exit(1);
      if (LastError() != "Stream write error") ::_exit(2);
      if ((sigismember(&pending, SIGPIPE) == 1) != host_pending) ::_exit(3);
      if ((sigismember(&mask, SIGPIPE) == 1) != host_pending) ::_exit(4);
      ::_exit(0);
    }
    ::close(ends[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: result, 2: message, 3: pending, 4: mask";
  }
  EXPECT_EQ(Leftovers(), std::vector<std::string>{"in.txt"});
}

// A reader that leaves while the output is being written (during one write,
// which the system then cuts short, or between two) raises no signal in the
// host either: the conversion succeeds, when what was left fitted the pipe,
// or fails with "Stream write error". The readers take more bytes each time,
// from none to the whole document.
TEST_F(SaveTest, ReaderLeavingAtAnyPointRaisesNoSignal) {
  WriteFile("in.txt", LargeInput());
  constexpr std::size_t kStep = 80 << 10;  // 50 steps pass the 3.6 MiB document's end
  for (std::size_t wanted = 0; wanted < 50 * kStep; wanted += kStep) {
    SCOPED_TRACE("the reader leaves after " + std::to_string(wanted) + " bytes");
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const std::string path = "/dev/fd/" + std::to_string(ends[1]);
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(ends[0]);
      ::signal(SIGPIPE, SIG_DFL);
      const int32_t result = Quorvel_TXT2XML("in.txt", path.c_str(), 100, "N", "Q");
      sigset_t pending;
      ::sigpending(&pending);
      if (result != QUORVEL_RESULT_OK && LastError() != "Stream write error") ::_exit(1);
      if (sigismember(&pending, SIGPIPE) == 1) ::_exit(2);
      ::_exit(0);
    }
    ::close(ends[1]);
    char buffer[4096];
    for (std::size_t got = 0; got < wanted;) {
      const ssize_t n = ::read(ends[0], buffer, std::min(sizeof buffer, wanted - got));
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    ::close(ends[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: another failure, 2: a SIGPIPE left pending";
  }
}

// The thread that writes behind the conversion takes no signal meant for
// the host: it starts with every signal blocked.
TEST_F(SaveTest, TheWriteBehindThreadTakesNoSignal) {
  static std::atomic<int> behind_writes, unblocked;
  behind_writes = 0;
  unblocked = 0;
  static const std::thread::id host = std::this_thread::get_id();
  platform_.api().write = [](platform::Handle h, const char* bytes, std::size_t size) {
    if (std::this_thread::get_id() != host) {
      ++behind_writes;
      sigset_t mask;
      ::pthread_sigmask(SIG_SETMASK, nullptr, &mask);
      for (const int signal : {SIGINT, SIGTERM, SIGPIPE, SIGUSR1, SIGCHLD}) {
        if (sigismember(&mask, signal) != 1) ++unblocked;
      }
    }
    return platform::Native().write(h, bytes, size);
  };
  WriteFile("in.txt", LargeInput());
  ASSERT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_OK);
  EXPECT_GT(behind_writes.load(), 0);
  EXPECT_EQ(unblocked.load(), 0);
}

// A pipe is written in place, never replaced, and only once the conversion
// has succeeded. (No device node is ever used: a faulty save could replace
// it.)
TEST_F(SaveTest, PipesAreWrittenInPlaceOnlyOnSuccess) {
  ASSERT_EQ(::mkfifo("pipe", 0600), 0);
  const int reader = ::open("pipe", O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  WriteFile("bad.txt", "1\t2\t3\t4\t5\t6\t7\t8\tbad\t10");
  EXPECT_EQ(Quorvel_TXT2XML("bad.txt", "pipe", 100, "N", "Q"), QUORVEL_RESULT_FAILED);
  EXPECT_EQ(LastError(), "'bad' is not a valid integer value");
  char buffer[8192];
  EXPECT_LE(::read(reader, buffer, sizeof buffer), 0);  // nothing was written
  WriteFile("in.txt", "");
  ASSERT_EQ(Quorvel_TXT2XML("in.txt", "pipe", 100, "N", "Q"), QUORVEL_RESULT_OK);
  const ssize_t n = ::read(reader, buffer, sizeof buffer);
  ::close(reader);
  ASSERT_GT(n, 0);
  const std::string got(buffer, static_cast<std::size_t>(n));
  EXPECT_EQ(got.substr(0, 39), "<?xml version=\"1.0\"  encoding=\"GBK\"?>\r\n");
  EXPECT_EQ(got.substr(got.size() - 9), "</body>\r\n");
  struct stat st;
  ASSERT_EQ(::lstat("pipe", &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}
// A pipe reached through a link of /dev/fd (a shell's >(...), /dev/stdout
// piped on) is written like any pipe: only a regular file needs the path a
// link leads to.
TEST_F(SaveTest, PipeReachedThroughDevFdIsWritten) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ASSERT_EQ(::fcntl(ends[0], F_SETFL, O_NONBLOCK), 0);
  const std::string path = "/dev/fd/" + std::to_string(ends[1]);
  WriteFile("in.txt", "a\tb");
  EXPECT_EQ(Quorvel_TXT2XML("in.txt", path.c_str(), 100, "N", "Q"), QUORVEL_RESULT_OK)
      << LastError();
  char buffer[8192];
  const ssize_t n = ::read(ends[0], buffer, sizeof buffer);
  ::close(ends[0]);
  ::close(ends[1]);
  ASSERT_GT(n, 0);
  const std::string got(buffer, static_cast<std::size_t>(n));
  EXPECT_EQ(got.substr(0, 39), "<?xml version=\"1.0\"  encoding=\"GBK\"?>\r\n");
  EXPECT_EQ(got.substr(got.size() - 9), "</body>\r\n");
  EXPECT_EQ(Leftovers(), std::vector<std::string>{"in.txt"});
}

// A regular file reached through /dev/fd or /proc/PID/fd (/dev/stdout
// redirected to a file) is one a process holds open: it is rewritten in
// place, so the descriptor still names it and what goes through it
// afterwards lands after the document, in the file.
TEST_F(SaveTest, FileHeldOpenAndReachedThroughDevFdIsRewrittenInPlace) {
  WriteFile("in.txt", "a\tb");
  ASSERT_EQ(Quorvel_TXT2XML("in.txt", "expected.xml", 100, "N", "Q"), QUORVEL_RESULT_OK);
  const std::string expected = ReadFile("expected.xml");
  std::remove("expected.xml");
  WriteFile("log", "an earlier line\n");
  const int fd = ::open("log", O_WRONLY | O_TRUNC);
  ASSERT_GE(fd, 0);
  const std::string identity = FileIdentity("log");
  for (const std::string& path :
       {"/dev/fd/" + std::to_string(fd), "/proc/self/fd/" + std::to_string(fd)}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Quorvel_TXT2XML("in.txt", path.c_str(), 100, "N", "Q"), QUORVEL_RESULT_OK)
        << LastError();
    EXPECT_EQ(FileIdentity("log"), identity) << "the file was replaced";
  }
  ASSERT_EQ(::lseek(fd, 0, SEEK_END), static_cast<off_t>(expected.size()));
  ASSERT_EQ(::write(fd, "after\n", 6), 6);
  ::close(fd);
  EXPECT_EQ(ReadFile("log"), expected + "after\n");
  std::vector<std::string> names = Leftovers();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"in.txt", "log"}));
}
#endif

}  // namespace
