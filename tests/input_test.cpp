// The streaming reader against the line-splitting rule: every window size
// from one byte up, so that every line, line break and CR LF pair crosses a
// window edge somewhere; counting against walking; starting over; streams
// that cannot be read twice; and inputs that change under a conversion.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/failure.h"
#include "io/background.h"
#include "io/input.h"
#include "quorvel.h"
#include "support/message_of.h"
#include "support/files.h"
#include "support/in_process.h"
#include "support/line_list.h"
#include "support/platform_override.h"
#include "support/text_reference.h"
#include "text/lines.h"
#include "text/scan.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using qtest::MessageOf;

using namespace std::string_literals;
using quorvel::ContentSize;
using quorvel::LineReader;
using qtest::ReadFile;
using qtest::WriteFile;


std::vector<std::string> ReferenceLines(std::string_view content) {
  std::vector<std::string> lines;
  for (qtest::LineCursor c(qtest::BeforeFirstNul(content)); !c.AtEnd(); c.Advance()) {
    lines.emplace_back(c.line());
  }
  return lines;
}

std::vector<std::string> ReadLines(LineReader& reader) {
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.Next(line)) lines.emplace_back(line);
  return lines;
}

constexpr std::size_t kWindows[] = {1, 2, 3, 4, 5, 7, 16, 17, 64, quorvel::kInputWindow};

class InputTest : public qtest::ScratchDirTest {
 protected:
  // Walks `content` from a file through every window size: the lines, the
  // count, a second walk after Rewind, and a count after a partial walk.
  void ExpectLines(const std::string& content, const std::vector<std::string>& expected) {
    WriteFile("in.txt", content);
    const ContentSize size{static_cast<std::int32_t>(expected.size()),
                           qtest::BeforeFirstNul(content).size()};
    for (const std::size_t window : kWindows) {
      SCOPED_TRACE("window " + std::to_string(window));
      LineReader reader("in.txt", window);
      EXPECT_EQ(ReadLines(reader), expected);
      EXPECT_EQ(reader.Passed(), size);
      reader.Rewind();
      EXPECT_EQ(reader.CountRest(), size);
      reader.Rewind();
      EXPECT_EQ(ReadLines(reader), expected);
      reader.Rewind();
      std::string_view first;
      if (reader.Next(first)) {
        EXPECT_EQ(reader.CountRest(), size);
      }
    }
  }
};

TEST_F(InputTest, FollowsTheBreakRulesInEveryWindow) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"", {}},
      {"a\r\nb", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\n\nb", {"a", "", "b"}},
      {"a\rb", {"a", "b"}},
      {"a\n\rb", {"a", "", "b"}},
      {"a\r\rb", {"a", "", "b"}},
      {"\r\n", {""}},
      {"\r", {""}},
      {"\n\n", {"", ""}},
      {"a\0b\r\nc"s, {"a"}},
      {"\0abc"s, {}},
      {"a\r\0\nb"s, {"a"}},
      {"a\r\n\0"s, {"a"}},
      {" a\t \r\n\tb ", {" a\t ", "\tb "}},
      {"\x1A\xC4\xCF\r", {"\x1A\xC4\xCF"}},
      // Longer than one sixteen-byte block, breaks at every offset.
      {std::string(40, 'x') + "\r" + std::string(17, 'y') + "\n",
       {std::string(40, 'x'), std::string(17, 'y')}},
      // A line many windows long, then short ones: the window grows for the
      // long line and shrinks back.
      {std::string(1000, 'L') + "\r\nb\r\nc", {std::string(1000, 'L'), "b", "c"}},
  };
  for (const auto& [content, lines] : cases) {
    SCOPED_TRACE(testing::PrintToString(content));
    EXPECT_EQ(ReferenceLines(content), lines);
    EXPECT_EQ(qtest::LineList(content).Count(), static_cast<std::int32_t>(lines.size()));
    ExpectLines(content, lines);
  }
}

TEST_F(InputTest, RandomContentsEqualTheReference) {
  std::mt19937 random(7);
  const char alphabet[] = {'a', 'b', '\r', '\n', '\t', '\0', '\xC4'};
  for (int round = 0; round < 150; ++round) {
    std::string content(random() % 120, ' ');
    for (char& c : content) c = alphabet[random() % (random() % 4 == 0 ? 7 : 4)];
    SCOPED_TRACE(testing::PrintToString(content));
    ExpectLines(content, ReferenceLines(content));
  }
}

// The lines taken in bulk, as the conversions take them: the whole lines at
// the front of Unread(), then more read behind them.
std::vector<std::string> TakeLinesInBulk(LineReader& reader) {
  std::vector<std::string> lines;
  do {
    const std::string_view chunk = reader.Unread();
    std::size_t begin = 0;
    const quorvel::ChunkTaken taken = quorvel::WalkLines(
        chunk, reader.UnreadIsLast(), '<', [](std::size_t) {},
        [&](std::size_t stop, std::size_t next) {
          lines.emplace_back(chunk.substr(begin, stop - begin));
          begin = next;
          return true;
        });
    reader.Consume(taken.bytes, taken.lines, taken.after_cr);
  } while (reader.ReadMore());
  return lines;
}

// What the reads of ShortReadsAndFilesCutShortInEveryWindow deliver.
struct Reads {
  static inline std::size_t calls = 0;
  static inline std::uint64_t delivered = 0;  // since the last Reset
  static inline std::uint64_t cut = 0;        // no byte is delivered past it
  static void Reset(std::uint64_t at) {
    delivered = 0;
    cut = at;
  }
};

// Reads that deliver fewer bytes than asked (some on the thread that reads
// ahead) change no line, walked one by one or taken in bulk, in any window.
// A file that ends before the size it had when it was opened, at any point
// (one only a read ahead reaches included), is "Cannot open file in.txt".
TEST_F(InputTest, ShortReadsAndFilesCutShortInEveryWindow) {
  qtest::PlatformOverride platform;
  platform.api().read = [](quorvel::platform::Handle h, char* buffer,
                           std::size_t size) -> std::ptrdiff_t {
    std::size_t want = std::min<std::size_t>(size, 1 + Reads::calls++ % 5);
    want = static_cast<std::size_t>(std::min<std::uint64_t>(want, Reads::cut - Reads::delivered));
    if (want == 0) return 0;
    const std::ptrdiff_t n = quorvel::platform::Native().read(h, buffer, want);
    if (n > 0) Reads::delivered += static_cast<std::uint64_t>(n);
    return n;
  };
  std::mt19937 random(11);
  const char alphabet[] = {'a', 'b', '\r', '\n', '\t'};
  for (int round = 0; round < 8; ++round) {
    std::string content(100 + random() % 200, ' ');
    for (char& c : content) c = alphabet[random() % 5];
    if (round == 0) content[40] = '\0';  // the content ends there
    SCOPED_TRACE(testing::PrintToString(content));
    WriteFile("in.txt", content);
    const std::vector<std::string> expected = ReferenceLines(content);
    for (const std::size_t window : kWindows) {
      SCOPED_TRACE("window " + std::to_string(window));
      Reads::Reset(UINT64_MAX);
      LineReader reader("in.txt", window);
      EXPECT_EQ(ReadLines(reader), expected);
      reader.Rewind();
      EXPECT_EQ(TakeLinesInBulk(reader), expected);
      if (round == 0) continue;
      for (const std::uint64_t cut : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{window},
                                      std::uint64_t{content.size() / 2},
                                      std::uint64_t{content.size() - 1}}) {
        if (cut >= content.size()) continue;
        SCOPED_TRACE("cut at " + std::to_string(cut));
        Reads::Reset(cut);
        EXPECT_EQ(MessageOf([] {
                    LineReader cut_reader("in.txt", kWindows[0]);
                    ReadLines(cut_reader);
                  }),
                  "Cannot open file in.txt");
        Reads::Reset(cut);
        EXPECT_EQ(MessageOf([&] {
                    LineReader cut_reader("in.txt", window);
                    TakeLinesInBulk(cut_reader);
                  }),
                  "Cannot open file in.txt");
      }
    }
  }
}

TEST_F(InputTest, ReferenceListLineIAnyOrderAndOutOfBounds) {
  const qtest::LineList list("zero\none\r\ntwo\rthree");
  EXPECT_EQ(list.Line(2), "two");
  EXPECT_EQ(list.Line(0), "zero");
  EXPECT_EQ(list.Line(3), "three");
  for (const std::int32_t bad : {4, 5, -1, std::numeric_limits<std::int32_t>::min()}) {
    EXPECT_EQ(MessageOf([&] { list.Line(bad); }),
              "List index out of bounds (" + std::to_string(bad) + ")");
  }
}

#ifndef _WIN32
TEST_F(InputTest, StreamsAreHeldWholeAndEndAtTheirFirstNul) {
  ASSERT_EQ(::mkfifo("fifo", 0600), 0);
  std::string content;
  for (int i = 0; i < 20000; ++i) content += "line " + std::to_string(i) + "\r\n";
  std::thread writer([&] { WriteFile("fifo", content + "tail"); });
  LineReader reader("fifo", 16);
  const std::vector<std::string> lines = ReadLines(reader);
  writer.join();
  EXPECT_EQ(lines, ReferenceLines(content + "tail"));
  reader.Rewind();  // from memory: a pipe cannot be read twice
  EXPECT_EQ(reader.CountRest(), (ContentSize{20001, content.size() + 4}));

  // An endless stream of NULs ends at once.
  LineReader zeros("/dev/zero");
  EXPECT_EQ(zeros.CountRest(), (ContentSize{0, 0}));
  LineReader null("/dev/null");
  EXPECT_EQ(ReadLines(null), std::vector<std::string>{});
}
#endif

// Line counts are signed 32-bit: 2^31 - 1 lines are counted, one more is
// "Out of memory" (no count can hold it), whether counted or walked. The
// input is 2 GiB of line breaks made up by the platform layer, not a file.
TEST_F(InputTest, AtMost2To31Minus1Lines) {
  qtest::PlatformOverride platform;
  static std::uint64_t remaining = 0;
  platform.api().open_for_read = [](const char*, quorvel::platform::Handle* handle,
                                    quorvel::platform::InputInfo* info) {
    *handle = 7;
    info->sized = true;
    info->size = remaining;
    return 0;
  };
  platform.api().read = [](quorvel::platform::Handle, char* buffer, std::size_t size) {
    const std::size_t n = size < remaining ? size : static_cast<std::size_t>(remaining);
    std::memset(buffer, '\n', n);
    remaining -= n;
    return static_cast<std::ptrdiff_t>(n);
  };
  platform.api().close = [](quorvel::platform::Handle) { return 0; };
  constexpr std::uint64_t kMax = 2147483647;
  remaining = kMax;
  EXPECT_EQ(LineReader("lines", std::size_t{64} << 20).CountRest(), (ContentSize{INT32_MAX, kMax}));
  remaining = kMax + 1;
  EXPECT_THROW(LineReader("lines", std::size_t{64} << 20).CountRest(), std::bad_alloc);
  // Walking: the last countable line is handed out, the next one is not.
  remaining = 2;
  LineReader walked("lines");
  walked.Consume(0, kMax - 1, false);
  std::string_view line;
  ASSERT_TRUE(walked.Next(line));
  EXPECT_EQ(walked.Passed().lines, INT32_MAX);
  EXPECT_THROW(walked.Next(line), std::bad_alloc);
}

// Jobs run one at a time, in order, each seen whole by the caller once it
// has waited; an object that goes waits for the job under way (the reader's
// and the writer's buffers must outlive their reads and writes).
TEST(Background, JobsAreSeenWholeAndWaitedForAtTheEnd) {
  struct Work {
    std::vector<int> done;
    int next = 0;
  };
  const quorvel::Background::Job step = [](void* context) {
    auto* work = static_cast<Work*>(context);
    std::this_thread::sleep_for(std::chrono::milliseconds(work->next % 3));
    work->done.push_back(work->next);
  };
  Work work;
  {
    quorvel::Background background;
    background.Wait();  // nothing started: returns at once
    for (int k = 0; k < 50; ++k) {
      work.next = k;
      background.Start(step, &work);
      EXPECT_TRUE(background.busy());
      background.Wait();
      EXPECT_FALSE(background.busy());
      ASSERT_EQ(work.done.size(), static_cast<std::size_t>(k + 1));
      EXPECT_EQ(work.done.back(), k);
    }
    work.next = 2;
    background.Start(step, &work);
  }
  EXPECT_EQ(work.done.size(), 51u);
}

// A text that changes between the counting pass and the converting pass
// (here: one line break more, the same size) would give a document whose row
// count does not match its rows: the conversion fails instead. The change is
// made by the platform layer, as another program's write would show.
TEST_F(InputTest, TextChangedBetweenThePassesIsNotConverted) {
  qtest::PlatformOverride platform;
  platform.api().local_date = qtest::PinnedDate;
  static bool rewound = false;
  static std::uint64_t offset = 0;
  std::string content;
  while (content.size() < 2 * quorvel::kInputWindow) content += "a\tb\tc\r\n";
  WriteFile("in.txt", content);
  WriteFile("out.xml", "previous");
  platform.api().rewind = [](quorvel::platform::Handle handle) {
    rewound = true;
    offset = 0;
    return quorvel::platform::Native().rewind(handle);
  };
  platform.api().read = [](quorvel::platform::Handle handle, char* buffer, std::size_t size) {
    const std::ptrdiff_t n = quorvel::platform::Native().read(handle, buffer, size);
    // The second byte of the file reads as a line break once it is read again.
    if (rewound && n > 0 && offset <= 1 && offset + static_cast<std::uint64_t>(n) > 1) {
      buffer[1 - offset] = '\n';
    }
    if (n > 0) offset += static_cast<std::uint64_t>(n);
    return n;
  };
  EXPECT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_FAILED);
  EXPECT_EQ(qtest::LastError(), "Cannot open file in.txt");
  EXPECT_EQ(ReadFile("out.xml"), "previous");
  EXPECT_EQ(Leftovers().size(), 2u);

  // A file that cannot be moved back to its start.
  platform.api().read = quorvel::platform::Native().read;
  platform.api().rewind = [](quorvel::platform::Handle) { return EIO; };
  EXPECT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_FAILED);
  EXPECT_EQ(qtest::LastError(), "Cannot open file in.txt");
  EXPECT_EQ(ReadFile("out.xml"), "previous");
}

// A conversion may write over its own input: the input is let go before the
// save (Windows refuses to replace a file that is open).
TEST_F(InputTest, ConversionOntoItsOwnInput) {
  qtest::PlatformOverride platform;
  platform.api().local_date = qtest::PinnedDate;
  WriteFile("doc.xml", "<nsr>N</nsr>\r\n<rows>1</rows>\r\n<data>\r\n<row>\r\n<dm>1</dm><hm>2</hm>"
                       "<gf>3</gf><xf>4</xf><kr>20240131</kr><je>5</je><se>6</se><mw>&lt;</mw>"
                       "<sy>7B</sy><jg>J</jg>\r\n<rq>20261206</rq>\r\n</row>\r\n");
  int32_t rows = 0;
  char nsr[256], reserved[256];
  ASSERT_EQ(Quorvel_XML2TXT("doc.xml", "doc.xml", 0, &rows, nsr, reserved), QUORVEL_RESULT_OK)
      << qtest::LastError();
  EXPECT_EQ(ReadFile("doc.xml"), "1\t2\t3\t4\t2024/01/31\t5\t6\t<\t123\tJ\t2026/12/06\r\n");
  ASSERT_EQ(Quorvel_TXT2XML("doc.xml", "doc.xml", 100, "N", "Q"), QUORVEL_RESULT_OK)
      << qtest::LastError();
  EXPECT_NE(ReadFile("doc.xml").find("  <rows>1</rows>\r\n"), std::string::npos);
  EXPECT_EQ(Leftovers(), std::vector<std::string>{"doc.xml"});
}

// The data line came before the header values, so the reader walks back to
// it; a document that no longer has its data line there has changed under
// the conversion and is not converted.
TEST_F(InputTest, DocumentChangedBeforeTheWalkBackIsNotConverted) {
  qtest::PlatformOverride platform;
  static bool rewound = false;
  rewound = false;
  platform.api().rewind = [](quorvel::platform::Handle handle) {
    rewound = true;
    return quorvel::platform::Native().rewind(handle);
  };
  platform.api().read = [](quorvel::platform::Handle handle, char* buffer, std::size_t size) {
    const std::ptrdiff_t n = quorvel::platform::Native().read(handle, buffer, size);
    // Read again, "<data>" has become "<dat_>".
    if (rewound) {
      for (std::ptrdiff_t i = 0; i + 6 <= n; ++i) {
        if (std::memcmp(buffer + i, "<data>", 6) == 0) buffer[i + 4] = '_';
      }
    }
    return n;
  };
  // Larger than the read window, so the walk back reads the file again.
  std::string document = "<body>\r\n<data>\r\n";
  while (document.size() < 2 * quorvel::kInputWindow) document += "<filler>x</filler>\r\n";
  document += "<nsr>N</nsr>\r\n<rows>0</rows>\r\n";
  WriteFile("in.xml", document);
  WriteFile("out.txt", "previous");
  int32_t rows = -7;
  char nsr[256], reserved[256];
  EXPECT_EQ(Quorvel_XML2TXT("in.xml", "out.txt", 0, &rows, nsr, reserved), QUORVEL_RESULT_FAILED);
  EXPECT_EQ(qtest::LastError(), "Cannot open file in.xml");
  EXPECT_EQ(rows, 0);  // written as soon as it was read
  EXPECT_EQ(ReadFile("out.txt"), "previous");
}

}  // namespace
