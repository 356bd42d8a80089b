// Line files on disk: loading, the atomic save, and what every injected I/O
// fault leaves behind (the message, the existing output, no stray temporary
// file).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "quorvel.h"
#include "support/message_of.h"
#include "support/files.h"
#include "support/in_process.h"
#include "support/platform_override.h"
#include "common/failure.h"
#include "io/output.h"
#include "io/input.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using qtest::MessageOf;

namespace platform = quorvel::platform;
using qtest::ReadFile;
using qtest::WriteFile;

using qtest::LastError;


// Fault knobs read by the injected platform calls below.
struct Faults {
  static inline std::size_t write_budget = 0;  // bytes that may still be written
  static inline std::size_t read_limit = 0;    // bytes the first read delivers
  static inline int reads = 0;
};

std::ptrdiff_t WriteWithinBudget(platform::Handle h, const char* bytes, std::size_t size) {
  if (Faults::write_budget == 0) return -1;
  const std::ptrdiff_t n = platform::Native().write(h, bytes, std::min(size, Faults::write_budget));
  if (n > 0) Faults::write_budget -= static_cast<std::size_t>(n);
  return n;
}

std::ptrdiff_t ReadShort(platform::Handle h, char* buffer, std::size_t size) {
  if (Faults::reads++ > 0) return 0;  // then the stream "ends"
  return platform::Native().read(h, buffer, std::min(size, Faults::read_limit));
}

class SaveTest : public qtest::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    platform_.api().local_date = qtest::PinnedDate;
    Faults::reads = 0;
  }

  // An input whose document is about 3.6 MiB: several stream buffers.
  static std::string LargeInput(const std::string& last_sy = "255") {
    const std::string row = "1100\t00000001\tBUYER\tSELLER\t20240131\t1000.00\t170.00\t<a>\t";
    std::string input;
    for (int i = 0; i < 14000; ++i) input += row + "255\tB\n";
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
    EXPECT_EQ(MessageOf([&] { quorvel::LineReader reader(bad); }),
              std::string("Cannot open file ") + bad);
  }
  EXPECT_EQ(MessageOf([&] { quorvel::LineReader reader(nullptr); }), "Cannot open file ");
}

TEST_F(SaveTest, ShortOrFailedReadsNeverConvertATruncatedInput) {
  WriteFile("in.txt", std::string(5000, 'x'));
  platform_.api().read = ReadShort;
  for (const std::size_t limit : {0u, 1u, 4999u}) {
    Faults::reads = 0;
    Faults::read_limit = limit;
    ExpectFailureLeavesOutput(std::string(5000, 'x'), "Cannot open file in.txt");
  }
  platform_.api().read = [](platform::Handle, char*, std::size_t) -> std::ptrdiff_t { return -1; };
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

TEST_F(SaveTest, TemporaryFileThatCannotBeCreated) {
  platform_.api().create_temp = [](const char*, platform::Handle*, std::string*) { return false; };
  ExpectFailureLeavesOutput("a\tb", "Cannot create file out.xml");
  ExpectFailureLeavesOutput(LargeInput(), "Cannot create file out.xml");
}

TEST_F(SaveTest, ReplaceOrCloseThatFails) {
  platform_.api().replace = [](const char*, const char*) { return false; };
  ExpectFailureLeavesOutput(LargeInput(), "Cannot create file out.xml");
  platform_.api().replace = platform::Native().replace;
  platform_.api().close = [](platform::Handle h) {
    platform::Native().close(h);
    return false;
  };
  ExpectFailureLeavesOutput("a\tb", "Stream write error");
}

// A stream that failed early must not hide a conversion failure found later:
// the conversion's own message wins, as if the save had never begun.
TEST_F(SaveTest, ConversionFailureOutranksAnEarlierStreamFailure) {
  const std::string bad = LargeInput("bad");
  platform_.api().create_temp = [](const char*, platform::Handle*, std::string*) { return false; };
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

TEST_F(SaveTest, ReplacedFileKeepsItsPermissionBits) {
  WriteFile("in.txt", "a");
  WriteFile("out.xml", "previous");
  ASSERT_EQ(::chmod("out.xml", 0640), 0);
  ASSERT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_OK);
  struct stat st;
  ASSERT_EQ(::stat("out.xml", &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // A new file gets what creating it directly would give: 0666 less umask.
  const mode_t mask = ::umask(022);
  ASSERT_EQ(Quorvel_TXT2XML("in.txt", "new.xml", 100, "N", "Q"), QUORVEL_RESULT_OK);
  ::umask(mask);
  ASSERT_EQ(::stat("new.xml", &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST_F(SaveTest, ReadOnlyTargetCannotBeReplaced) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write any file";
  WriteFile("in.txt", "a");
  WriteFile("out.xml", "previous");
  ASSERT_EQ(::chmod("out.xml", 0444), 0);
  EXPECT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_FAILED);
  EXPECT_EQ(LastError(), "Cannot create file out.xml");
  EXPECT_EQ(ReadFile("out.xml"), "previous");
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
#endif

}  // namespace
