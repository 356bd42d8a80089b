// The reader's window and the one loop that walks lines through it, against
// the line-splitting rule: every window size from one byte up, so that every
// line, line break and CR LF pair crosses a window edge somewhere; counting
// against walking; starting over; files whose size is wrong; streams that
// cannot be read twice; and inputs that change under a conversion.
#include "io/input.h"

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
#include "convert/walk.h"
#include "io/background.h"
#include "quorvel.h"
#include "support/files.h"
#include "support/in_process.h"
#include "support/line_list.h"
#include "support/message_of.h"
#include "support/platform_override.h"
#include "support/text_reference.h"
#include "support/walked_lines.h"
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
using qtest::ReadFile;
using qtest::WalkedLines;
using qtest::WriteFile;
using quorvel::ByteReader;
using quorvel::ContentSize;

std::vector<std::string> ReferenceLines(std::string_view content) {
  std::vector<std::string> lines;
  for (qtest::LineCursor c(qtest::BeforeFirstNul(content)); !c.AtEnd(); c.Advance()) {
    lines.emplace_back(c.line());
  }
  return lines;
}

constexpr std::size_t kWindows[] = {1, 2, 3, 4, 5, 7, 16, 17, 64, quorvel::kInputWindow};

class InputTest : public qtest::ScratchDirTest {
 protected:
  // Walks `content` from a file through every window size: the lines, the
  // count, and a second walk after Rewind.
  void ExpectLines(const std::string& content, const std::vector<std::string>& expected) {
    WriteFile("in.txt", content);
    const ContentSize size{static_cast<std::int64_t>(expected.size()),
                           qtest::BeforeFirstNul(content).size()};
    for (const std::size_t window : kWindows) {
      SCOPED_TRACE("window " + std::to_string(window));
      ByteReader reader("in.txt", window);
      EXPECT_EQ(WalkedLines(reader), expected);
      EXPECT_EQ(reader.Consumed(), size.bytes);
      reader.Rewind();
      EXPECT_EQ(quorvel::CountContent(reader), size);
      reader.Rewind();
      EXPECT_EQ(WalkedLines(reader), expected);
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

// The content ends at its first NUL wherever that falls in the search's
// steps of sixty-four and sixteen bytes, a later NUL ignored.
TEST_F(InputTest, ContentEndsAtTheFirstNulAnywhere) {
  for (std::size_t at = 0; at < 160; ++at) {
    std::string content(160, 'a');
    for (std::size_t i = 7; i < content.size(); i += 10) content[i] = '\n';
    content[at] = '\0';
    content[159] = '\0';
    SCOPED_TRACE(at);
    ExpectLines(content, ReferenceLines(content));
  }
}

// What the reads of ShortReadsAndWrongSizesInEveryWindow deliver.
struct Reads {
  static inline std::size_t calls = 0;
  static inline std::uint64_t delivered = 0;  // since the last Reset
  static inline std::uint64_t cut = 0;        // no byte is delivered past it
  static inline std::uint64_t size = 0;       // the size the system says the file has
  static inline int rewinds = 0;
  static void Reset(std::uint64_t at) {
    delivered = 0;
    cut = at;
    rewinds = 0;
  }
};

// Reads that deliver fewer bytes than asked change no line, in any window.
// The size the system gives is a hint: a file that ends before it (at any
// point) is read to where it ends, and one that reads past it (a file the
// system makes up as it is read says 0) to its end; such a file is held
// whole when it fits the window, and is not read again.
TEST_F(InputTest, ShortReadsAndWrongSizesInEveryWindow) {
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
  platform.api().rewind = [](quorvel::platform::Handle h) {
    ++Reads::rewinds;
    Reads::delivered = 0;
    return quorvel::platform::Native().rewind(h);
  };
  std::mt19937 random(11);
  const char alphabet[] = {'a', 'b', '\r', '\n', '\t'};
  for (int round = 0; round < 8; ++round) {
    std::string content(100 + random() % 200, ' ');
    for (char& c : content) c = alphabet[random() % 5];
    if (round == 0) content[40] = '\0';  // the content ends there
    SCOPED_TRACE(testing::PrintToString(content));
    WriteFile("in.txt", content);
    for (const std::size_t window : kWindows) {
      SCOPED_TRACE("window " + std::to_string(window));
      for (const std::uint64_t cut : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{window},
                                      std::uint64_t{content.size() / 2}, UINT64_MAX}) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        const std::string read = content.substr(0, std::min<std::uint64_t>(cut, content.size()));
        Reads::Reset(cut);
        ByteReader reader("in.txt", window);
        EXPECT_EQ(WalkedLines(reader), ReferenceLines(read));
        reader.Rewind();
        EXPECT_EQ(WalkedLines(reader), ReferenceLines(read));
        // Held whole when it was not as large as said and fit well within
        // the window.
        const bool held = cut < content.size() && 2 * read.size() < window;
        if (held) {
          EXPECT_EQ(Reads::rewinds, 0);
        }
      }
    }
  }
  // A file that says it is empty, or smaller than it is, read past its size,
  // into a conversion: every line converts.
  platform.api().open_for_read = [](const char* path, quorvel::platform::Handle* handle,
                                    quorvel::platform::InputInfo* info) {
    const quorvel::platform::Error error =
        quorvel::platform::Native().open_for_read(path, handle, info);
    info->size = Reads::size;
    return error;
  };
  platform.api().local_date = qtest::PinnedDate;
  std::string text;
  for (int i = 0; i < 300; ++i) text += "a\tb\r\n";
  WriteFile("in.txt", text);
  const std::size_t saved = quorvel::InputWindow();
  for (const std::uint64_t size : {std::uint64_t{0}, std::uint64_t{7}}) {
    for (const std::size_t window : {saved, std::size_t{64}}) {
      Reads::Reset(UINT64_MAX);
      Reads::size = size;
      quorvel::InputWindow() = window;
      ASSERT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_OK);
      EXPECT_NE(ReadFile("out.xml").find("<rows>300</rows>"), std::string::npos);
      EXPECT_NE(ReadFile("out.xml").find("<row id=\"300\">"), std::string::npos);
    }
  }
  quorvel::InputWindow() = saved;
}

// A line many windows long is searched for its end only in the bytes that
// arrive, and scanned once it is whole: walking it costs its length, not
// its length times the number of windows it spans.
TEST_F(InputTest, LongLinesAreScannedOnce) {
  const std::string content = "a\r\n" + std::string(20000, 'x') + "\r\n" + std::string(30000, 'y');
  WriteFile("in.txt", content);
  for (const std::size_t window : {std::size_t{16}, std::size_t{100}, std::size_t{4096}}) {
    SCOPED_TRACE("window " + std::to_string(window));
    ByteReader reader("in.txt", window);
    std::uint64_t scanned = 0;
    EXPECT_EQ(WalkedLines(reader, &scanned), ReferenceLines(content));
    EXPECT_LE(scanned, 2 * content.size());
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
  ByteReader reader("fifo", 16);
  const std::vector<std::string> lines = WalkedLines(reader);
  writer.join();
  EXPECT_EQ(lines, ReferenceLines(content + "tail"));
  reader.Rewind();  // from memory: a pipe cannot be read twice
  EXPECT_EQ(quorvel::CountContent(reader), (ContentSize{20001, content.size() + 4}));

  // An endless stream of NULs ends at once.
  ByteReader zeros("/dev/zero");
  EXPECT_EQ(quorvel::CountContent(zeros), (ContentSize{0, 0}));
  ByteReader null("/dev/null");
  EXPECT_EQ(WalkedLines(null), std::vector<std::string>{});
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
  // The reader goes before `remaining` is set again.
  auto count = [] {
    ByteReader reader("lines", std::size_t{64} << 20);
    return quorvel::CountContent(reader);
  };
  remaining = kMax;
  EXPECT_EQ(count(), (ContentSize{INT32_MAX, kMax}));
  remaining = kMax + 1;
  EXPECT_THROW(count(), std::bad_alloc);
  // Walking, with kMax - 1 lines already taken: the last countable line is
  // taken, one more is not.
  for (const std::uint64_t more : {1u, 2u}) {
    remaining = more;
    ByteReader reader("lines");
    quorvel::LineState lines;
    lines.Took({0, kMax - 1, false, false});
    auto walk = [&] { quorvel::WalkContent(reader, lines, quorvel::CountWholeLines, [] {}); };
    if (more == 1) {
      walk();
      EXPECT_EQ(lines.lines(), INT32_MAX);
    } else {
      EXPECT_THROW(walk(), std::bad_alloc);
    }
  }
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
  WriteFile("doc.xml",
            "<nsr>N</nsr>\r\n<rows>1</rows>\r\n<data>\r\n<row>\r\n<dm>1</dm><hm>2</hm>"
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
