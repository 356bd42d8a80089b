// Conformance: the library exactly as a host uses it. It is loaded at run
// time and called only through its three exports; every host buffer is
// poisoned first so that untouched bytes are visible, and files are compared
// whole, byte for byte. The same suite runs natively and, as a 32-bit Windows
// program, under Wine.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/library.h"

namespace {

using qtest::CrLfLines;
using qtest::ReadFile;
using qtest::WriteFile;

constexpr int32_t kOk = QUORVEL_RESULT_OK;
constexpr int32_t kFailed = QUORVEL_RESULT_FAILED;
constexpr char kPoison = '\x5A';
constexpr int32_t kRowsPoison = 0x5A5A5A5A;

using Buffer = std::array<char, QUORVEL_BUFFER_SIZE>;

Buffer Poisoned() {
  Buffer b;
  b.fill(kPoison);
  return b;
}

// A poisoned buffer after the library wrote `text` into it: the text, a NUL,
// and the poison untouched behind it.
Buffer Holding(const std::string& text) {
  Buffer b = Poisoned();
  std::memcpy(b.data(), text.data(), text.size());
  b[text.size()] = '\0';
  return b;
}

const std::string kTitle100 =
    "\xD4\xF6\xD6\xB5\xCB\xB0\xD7\xA8\xD3\xC3\xB7\xA2\xC6\xB1\xB5\xD6\xBF\xDB\xC1\xAA\xD0"
    "\xC5\xCF\xA2\xC6\xF3\xD2\xB5\xB2\xC9\xBC\xAF\xB4\xFD\xC8\xCF\xD6\xA4\xCA\xFD\xBE\xDD";
const std::string kTitle102 =
    "\xD4\xF6\xD6\xB5\xCB\xB0\xD7\xA8\xD3\xC3\xB7\xA2\xC6\xB1\xB5\xD6\xBF\xDB"
    "\xC1\xAA\xD0\xC5\xCF\xA2\xC8\xCF\xD6\xA4\xCF\xE0\xB7\xFB\xCA\xFD\xBE\xDD";
const std::string kTitleUnknown = "\xCE\xB4\xD6\xAA\xB5\xC4\xCA\xFD\xBE\xDD\xCE\xC4\xBC\xFE";

// The eleven header lines of an outgoing document.
std::vector<std::string> HeaderLines(const std::string& code, const std::string& title,
                                     const std::string& nsr, const std::string& qymc,
                                     const std::string& date, const std::string& rows) {
  return {"<?xml version=\"1.0\"  encoding=\"GBK\"?>",
          "<!-- DOCTYPE RZ00" + code + " SYSTEM \"RZ00" + code + ".dtd\" -->",
          "<body>",
          " <head>",
          "  <code>RZ00" + code + "</code>",
          "  <title>" + title + "</title>",
          "  <nsr>" + nsr + "</nsr>",
          "  <qymc>" + qymc + "</qymc>",
          "  <scrq>" + date + "</scrq>",
          "  <rows>" + rows + "</rows>",
          " </head>"};
}

template <typename T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class ConformanceTest : public qtest::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    lib_ = std::make_unique<qtest::Library>();
    ASSERT_TRUE(lib_->loaded());
  }
  void TearDown() override {
    lib_.reset();
    ScratchDirTest::TearDown();
  }

  int32_t Txt2Xml(const char* in, const char* out, int32_t code = 102, const char* nsr = "N1",
                  const char* qymc = "Q1") {
    return lib_->txt2xml(in, out, code, nsr, qymc);
  }

  // Runs the document-to-text conversion with poisoned host memory.
  struct Xml2TxtRun {
    int32_t result;
    int32_t rows = kRowsPoison;
    Buffer nsr = Poisoned();
    Buffer reserved = Poisoned();
    std::string message;
  };
  Xml2TxtRun Xml2Txt(const char* in, const char* out, int32_t reserved_value = 0) {
    Xml2TxtRun run;
    run.result = lib_->xml2txt(in, out, reserved_value, &run.rows, run.nsr.data(),
                               run.reserved.data());
    run.message = lib_->LastError();
    return run;
  }

  std::string Message() { return lib_->LastError(); }

  std::unique_ptr<qtest::Library> lib_;
};

// ---------------------------------------------------------------------------
// The last-error slot and the fetch.

TEST_F(ConformanceTest, FetchBeforeAnyConversionWritesOneNul) {
  Buffer buffer = Poisoned();
  EXPECT_EQ(lib_->get_last_error(buffer.data()), kOk);
  EXPECT_EQ(buffer, Holding(""));
}

TEST_F(ConformanceTest, MissingInputIsReportedAndFetchIsRepeatable) {
  for (auto convert : {0, 1}) {
    const int32_t result = convert == 0 ? Txt2Xml("in.txt", "out.xml") : Xml2Txt("in.txt", "out.txt").result;
    EXPECT_EQ(result, kFailed);
    EXPECT_EQ(static_cast<uint32_t>(result), 4294967295u);
    EXPECT_EQ(result & 0xFF, 255);
    for (int fetch = 0; fetch < 2; ++fetch) {
      Buffer buffer = Poisoned();
      EXPECT_EQ(lib_->get_last_error(buffer.data()), kOk);
      EXPECT_EQ(buffer, Holding("Cannot open file in.txt"));
    }
  }
  EXPECT_FALSE(qtest::FileExists("out.xml"));
}

TEST_F(ConformanceTest, NullAndEmptyInputPathsKeepTheTrailingBlank) {
  EXPECT_EQ(Txt2Xml(nullptr, "out.xml"), kFailed);
  EXPECT_EQ(Message(), "Cannot open file ");
  EXPECT_EQ(Xml2Txt("", "out.txt").message, "Cannot open file ");
}

TEST_F(ConformanceTest, FolderAsInputCannotBeOpened) {
  qtest::MakeDir("folder");
  EXPECT_EQ(Txt2Xml("folder", "out.xml"), kFailed);
  EXPECT_EQ(Message(), "Cannot open file folder");
  EXPECT_EQ(Xml2Txt("folder", "out.txt").message, "Cannot open file folder");
}

TEST_F(ConformanceTest, LongMessagesAreCutAt255BytesInTheBuffer) {
  const std::string lead = "Cannot open file ";  // 17 bytes
  struct Case {
    std::string path;
    Buffer expected;
  };
  const std::string gbk_pair = "\xD6\xD0";  // one GBK character
  const std::vector<Case> cases = {
      // 254-byte message: NUL in byte 254, byte 255 untouched.
      {std::string(237, 'p'), Holding(lead + std::string(237, 'p'))},
      // Exactly 255 bytes: whole, NUL in byte 255.
      {std::string(238, 'p'), Holding(lead + std::string(238, 'p'))},
      // 300 bytes: the first 255, NUL in byte 255.
      {std::string(283, 'p'), Holding((lead + std::string(283, 'p')).substr(0, 255))},
      // A GBK character across the cut keeps only its lead byte.
      {std::string(237, 'p') + gbk_pair, Holding(lead + std::string(237, 'p') + "\xD6")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Txt2Xml(c.path.c_str(), "out.xml"), kFailed);
    for (int fetch = 0; fetch < 2; ++fetch) {
      Buffer buffer = Poisoned();
      lib_->get_last_error(buffer.data());
      EXPECT_EQ(buffer, c.expected) << c.path.size();
    }
  }
}

TEST_F(ConformanceTest, EachConversionClearsTheSlotFirst) {
  WriteFile("empty.txt", "");
  EXPECT_EQ(Txt2Xml("missing.txt", "out.xml"), kFailed);
  EXPECT_EQ(Message(), "Cannot open file missing.txt");
  // A second, different failure replaces the first.
  WriteFile("bad.xml", CrLfLines({"<nsr>N</nsr>", "<rows>abc</rows>"}));
  EXPECT_EQ(Xml2Txt("bad.xml", "out.txt").message, "'abc' is not a valid integer value");
  // A success leaves it empty.
  EXPECT_EQ(Txt2Xml("empty.txt", "out.xml"), kOk);
  Buffer buffer = Poisoned();
  lib_->get_last_error(buffer.data());
  EXPECT_EQ(buffer, Holding(""));
}

// ---------------------------------------------------------------------------
// Text to document.

TEST_F(ConformanceTest, WorkedExampleFullRow) {
  WriteFile("in.txt", "F1\tF2\tF3\tF4\tF5\tF6\tF7\tx<y>\t255\tF10\r\n");
  ASSERT_EQ(Txt2Xml("in.txt", "out.xml", 102, "N1", "Q1"), kOk);
  const std::string today = qtest::TodayYyyymmdd();
  const std::string expected = CrLfLines(
      HeaderLines("102", kTitle102, "N1", "Q1", today, "1") +
      std::vector<std::string>{" <data>", "  <row id=\"1\">", "   <dm>F1</dm>", "   <hm>F2</hm>",
                               "   <gf>F3</gf>", "   <xf>F4</xf>", "   <kr>F5</kr>",
                               "   <je>F6</je>", "   <se>F7</se>", "   <mw>x&lt;y&gt;</mw>",
                               "   <sy>00000000000000FF</sy>", "   <bb>F10</bb>", "  </row>",
                               " </data>", "</body>"});
  EXPECT_EQ(ReadFile("out.xml"), expected);
  EXPECT_EQ(Message(), "");
}

TEST_F(ConformanceTest, WorkedExampleShortRow) {
  WriteFile("in.txt", "F1\tF2\tF3\tF4\tF5\tF6\tF7\tx<y>");
  ASSERT_EQ(Txt2Xml("in.txt", "out.xml", 100, "N1", "Q1"), kOk);
  const std::string expected = CrLfLines(
      HeaderLines("100", kTitle100, "N1", "Q1", qtest::TodayYyyymmdd(), "1") +
      std::vector<std::string>{" <data>", "  <row id=\"1\">", "   <dm>F1</dm>", "   <hm>F2</hm>",
                               "   <gf>F3</gf>", "   <xf>F4</xf>", "   <kr>F5</kr>",
                               "   <je>F6</je>", "   <se>F7</se>", "   <rq>x<y></rq>", "  </row>",
                               " </data>", "</body>"});
  EXPECT_EQ(ReadFile("out.xml"), expected);
}

TEST_F(ConformanceTest, EmptyInputGivesTwelveLines) {
  WriteFile("in.txt", "");
  ASSERT_EQ(Txt2Xml("in.txt", "out.xml", -5, nullptr, nullptr), kOk);
  EXPECT_EQ(ReadFile("out.xml"),
            CrLfLines(HeaderLines("-5", kTitleUnknown, "", "", qtest::TodayYyyymmdd(), "0") +
                      std::vector<std::string>{"</body>"}));
}

TEST_F(ConformanceTest, NulEndsTheInputOfBothConversions) {
  // Everything after the first NUL is ignored, line breaks included.
  WriteFile("in.txt", std::string("a\tb") + '\0' + "\nc\td\r\n");
  ASSERT_EQ(Txt2Xml("in.txt", "out.xml", 100, "N", "Q"), kOk);
  EXPECT_EQ(ReadFile("out.xml"),
            CrLfLines(HeaderLines("100", kTitle100, "N", "Q", qtest::TodayYyyymmdd(), "1") +
                      std::vector<std::string>{" <data>", "  <row id=\"1\">", "  </row>",
                                               " </data>", "</body>"}));
  // A document cut by a NUL before its rows: the rows search runs off its
  // end, which is the line of the NUL.
  WriteFile("doc.xml",
            std::string("<nsr>N</nsr>\r\n<rows>1</rows>\r\n<data>\r\n<row") + '\0' + "\r\n</row>\r\n");
  const Xml2TxtRun run = Xml2Txt("doc.xml", "out.txt");
  EXPECT_EQ(run.result, kFailed);
  EXPECT_EQ(run.message, "List index out of bounds (4)");
  EXPECT_EQ(run.rows, 1);
}

TEST_F(ConformanceTest, GbkBytesPassThroughPathsAndValues) {
  const std::string gbk = "\xC4\xCF\xBE\xA9";  // two GBK characters
  const std::string in = "in" + gbk + ".txt";
  const std::string out = "out" + gbk + ".xml";
  WriteFile(in, gbk + "\t" + gbk);
  ASSERT_EQ(Txt2Xml(in.c_str(), out.c_str(), 0, gbk.c_str(), gbk.c_str()), kOk);
  const std::string doc = ReadFile(out);
  EXPECT_NE(doc.find("  <nsr>" + gbk + "</nsr>\r\n  <qymc>" + gbk + "</qymc>\r\n"),
            std::string::npos);
  EXPECT_NE(doc.find("  <row id=\"1\">\r\n  </row>\r\n"), std::string::npos);
  EXPECT_EQ(Txt2Xml(("no" + gbk).c_str(), out.c_str()), kFailed);
  EXPECT_EQ(Message(), "Cannot open file no" + gbk);
}

TEST_F(ConformanceTest, SyFailuresLeaveAnExistingOutputUntouched) {
  const std::string row = "a\tb\tc\td\te\tf\tg\th\t";
  struct Case {
    std::string sy;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"a12", "'a12' is not a valid integer value"},
      {"255 ", "'255 ' is not a valid integer value"},
      {"", "'' is not a valid integer value"},
      {"9223372036854775808", "'9223372036854775808' is not a valid integer value"},
  };
  for (const Case& c : cases) {
    // The bad row is the last of three: nothing may have reached the file.
    WriteFile("in.txt", row + "1\tj\n" + row + "A1\tj\n" + row + c.sy + "\tj\n");
    WriteFile("out.xml", "previous");
    EXPECT_EQ(Txt2Xml("in.txt", "out.xml"), kFailed);
    EXPECT_EQ(Message(), c.message);
    EXPECT_EQ(ReadFile("out.xml"), "previous");
    EXPECT_EQ(Leftovers().size(), 2u);
  }
}

TEST_F(ConformanceTest, OutputThatCannotBeCreated) {
  WriteFile("in.txt", "x");
  EXPECT_EQ(Txt2Xml("in.txt", "nodir/out.xml"), kFailed);
  EXPECT_EQ(Message(), "Cannot create file nodir/out.xml");
  EXPECT_EQ(Txt2Xml("in.txt", nullptr), kFailed);
  EXPECT_EQ(Message(), "Cannot create file ");
  qtest::MakeDir("folder");
  EXPECT_EQ(Txt2Xml("in.txt", "folder"), kFailed);
  EXPECT_EQ(Message(), "Cannot create file folder");
  EXPECT_EQ(Leftovers().size(), 2u);  // in.txt and folder: no temporary file
}

// ---------------------------------------------------------------------------
// Document to text.

// A returned document: header, then one block per row of elements.
using Elements = std::vector<std::pair<std::string, std::string>>;

std::string ReturnedDocument(const std::string& nsr, const std::string& rows,
                             const std::vector<Elements>& blocks) {
  std::vector<std::string> lines = HeaderLines("102", kTitle102, nsr, "Q", "20261206", rows);
  lines.push_back(" <data>");
  int id = 1;
  for (const Elements& block : blocks) {
    lines.push_back("  <row id=\"" + std::to_string(id++) + "\">");
    for (const auto& [name, value] : block) {
      lines.push_back("   <" + name + ">" + value + "</" + name + ">");
    }
    lines.push_back("  </row>");
  }
  lines.push_back(" </data>");
  lines.push_back("</body>");
  return CrLfLines(lines);
}

Elements CompleteRow(const std::string& sy = "7B") {
  return {{"dm", "D1"},       {"hm", "H1"},    {"gf", "G1"},          {"xf", "X1"},
          {"kr", "20240131"}, {"je", "100.00"}, {"se", "17.00"},       {"mw", "a&lt;b&gt;&amp;"},
          {"sy", sy},         {"jg", "J1"},    {"rq", "20240201"}};
}
const std::string kCompleteLine =
    "D1\tH1\tG1\tX1\t2024/01/31\t100.00\t17.00\ta<b>&amp;\t123\tJ1\t2024/02/01\r\n";

Elements Without(Elements row, const std::string& name) {
  std::erase_if(row, [&](const auto& e) { return e.first == name; });
  return row;
}

TEST_F(ConformanceTest, Xml2TxtOutcomesTouchExactlyWhatTheyShould) {
  // 27 lines: 11 header, data, row (13), data close, body close.
  const std::string one_row = ReturnedDocument("NSR1", "1", {CompleteRow()});
  struct Case {
    std::string name;
    std::string document;  // "<none>": no input file
    const char* output;
    int32_t result;
    std::string message;
    int32_t rows;             // kRowsPoison: untouched
    const char* nsr;          // nullptr: NsrBuffer and ReservedBuffer untouched
    std::string output_file;  // "previous": an existing output left as it was
  };
  std::string no_close = one_row;
  no_close.erase(no_close.find("  </row>\r\n"), 10);
  std::string no_data = one_row;
  no_data.replace(no_data.find("<data>"), 6, "<dada>");
  const std::vector<Case> cases = {
      {"missing input", "<none>", "out.txt", kFailed, "Cannot open file in.xml", kRowsPoison,
       nullptr, "previous"},
      {"empty file", "", "out.txt", kFailed, "List index out of bounds (0)", kRowsPoison,
       nullptr, "previous"},
      {"no nsr value", ReturnedDocument("", "1", {CompleteRow()}), "out.txt", kFailed,
       "List index out of bounds (27)", kRowsPoison, nullptr, "previous"},
      {"no rows value", ReturnedDocument("N", " ", {CompleteRow()}), "out.txt", kFailed,
       "List index out of bounds (27)", kRowsPoison, nullptr, "previous"},
      {"rows not an integer", ReturnedDocument("N", "abc", {}), "out.txt", kFailed,
       "'abc' is not a valid integer value", kRowsPoison, nullptr, "previous"},
      {"rows beyond 32 bits", ReturnedDocument("N", "2147483648", {}), "out.txt", kFailed,
       "'2147483648' is not a valid integer value", kRowsPoison, nullptr, "previous"},
      {"no data line", no_data, "out.txt", kFailed, "List index out of bounds (27)", 1, nullptr,
       "previous"},
      {"more rows than blocks", ReturnedDocument("N", "2", {CompleteRow()}), "out.txt", kFailed,
       "List index out of bounds (27)", 2, nullptr, "previous"},
      {"hex rows count", ReturnedDocument("N", "$1A", {CompleteRow()}), "out.txt", kFailed,
       "List index out of bounds (27)", 26, nullptr, "previous"},
      {"last block unclosed", no_close, "out.txt", kFailed, "List index out of bounds (26)", 1,
       nullptr, "previous"},
      {"bad sy", ReturnedDocument("N", "1", {CompleteRow("7G")}), "out.txt", kFailed,
       "'$7G' is not a valid integer value", 1, nullptr, "previous"},
      {"seventeen sy digits", ReturnedDocument("N", "1", {CompleteRow("10000000000000000")}),
       "out.txt", kFailed, "'$10000000000000000' is not a valid integer value", 1, nullptr,
       "previous"},
      {"incomplete row", ReturnedDocument("N", "2", {Without(CompleteRow(), "jg"), CompleteRow()}),
       "out.txt", kFailed, "", 2, "N", "previous"},
      {"empty value is missing", ReturnedDocument("N", "1", {Without(CompleteRow(), "se") + Elements{{"se", " "}}}),
       "out.txt", kFailed, "", 1, "N", "previous"},
      {"output cannot be created", one_row, "nodir/out.txt", kFailed,
       "Cannot create file nodir/out.txt", 1, "NSR1", "previous"},
      {"success", one_row, "out.txt", kOk, "", 1, "NSR1", kCompleteLine},
      {"rows 0", ReturnedDocument("N", "0", {}), "out.txt", kOk, "", 0, "N", ""},
      {"rows negative", ReturnedDocument("N", "-3", {CompleteRow()}), "out.txt", kOk, "", -3, "N",
       ""},
      {"fewer rows than blocks", ReturnedDocument("N", "1", {CompleteRow(), Without(CompleteRow(), "dm")}),
       "out.txt", kOk, "", 1, "N", kCompleteLine},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.document != "<none>") WriteFile("in.xml", c.document);
    WriteFile("out.txt", "previous");
    const Xml2TxtRun run = Xml2Txt("in.xml", c.output, 12345);
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(run.message, c.message);
    EXPECT_EQ(run.rows, c.rows);
    EXPECT_EQ(run.nsr, c.nsr ? Holding(c.nsr) : Poisoned());
    EXPECT_EQ(run.reserved, c.nsr ? Holding("") : Poisoned());
    EXPECT_EQ(ReadFile("out.txt"), c.output_file);
    std::remove("in.xml");
  }
  EXPECT_EQ(Leftovers().size(), 1u);  // out.txt alone: no temporary file
}

TEST_F(ConformanceTest, Xml2TxtValueEncodings) {
  struct Case {
    Elements changes;
    std::string line;
  };
  const std::string tail = "\tJ1\t2024/02/01\r\n";
  const std::string head = "D1\tH1\tG1\tX1\t2024/01/31\t100.00\t17.00\ta<b>&amp;\t";
  const std::vector<Case> cases = {
      {{{"sy", "A0123"}}, head + "A0123" + tail},
      {{{"sy", "FFFFFFFFFFFFFFFF"}}, head + "-1" + tail},
      {{{"sy", "8000000000000000"}}, head + "-9223372036854775808" + tail},
      {{{"sy", "a1"}}, head + "161" + tail},
      {{{"sy", "0000000000000000007B"}}, head + "123" + tail},
      {{{"kr", "2024/01/31"}}, "D1\tH1\tG1\tX1\t2024//0/1/\t100.00\t17.00\ta<b>&amp;\t123" + tail},
      {{{"kr", "202401"}}, "D1\tH1\tG1\tX1\t2024/01/\t100.00\t17.00\ta<b>&amp;\t123" + tail},
      {{{"rq", "2024020199"}}, head + "123\tJ1\t2024/02/01\r\n"},
      {{{"mw", "&&gt;gt;&GT;&lt;"}}, "D1\tH1\tG1\tX1\t2024/01/31\t100.00\t17.00\t&>gt;&GT;<\t123" + tail},
      // Values are trimmed of blanks and control bytes, GBK kept whole.
      {{{"dm", " \t\xC4\xCF  "}}, "\xC4\xCF\tH1\tG1\tX1\t2024/01/31\t100.00\t17.00\ta<b>&amp;\t123" + tail},
  };
  for (const Case& c : cases) {
    Elements row = CompleteRow();
    for (auto& [name, value] : row) {
      for (const auto& [changed, new_value] : c.changes) {
        if (name == changed) value = new_value;
      }
    }
    WriteFile("in.xml", ReturnedDocument("N", "1", {row}));
    const Xml2TxtRun run = Xml2Txt("in.xml", "out.txt");
    EXPECT_EQ(run.result, kOk) << run.message;
    EXPECT_EQ(ReadFile("out.txt"), c.line);
  }
}

TEST_F(ConformanceTest, Xml2TxtLaterValuesWinAndBlocksMayMerge) {
  std::vector<std::string> lines = HeaderLines("102", kTitle102, "N", "Q", "20261206", "2");
  lines.insert(lines.end(), {
      " <data>",
      // Row 1: one line holding "<row" and "</row>" runs on to the next
      // closing line; later non-empty values win, empty ones do not clear.
      "  <row id=\"1\"><dm>OLD</dm><hm>H1</hm></row>",
      "<gf>G1</gf><xf>X1</xf><kr>20240131</kr><je>1</je><se>2</se>",
      "<mw>M</mw><sy>1</sy><jg>J</jg><rq>20240201</rq><dm>NEW</dm><hm></hm>",
      "  </row>",
      "not looked at: <dm>zz</dm>",
      // Row 2: elements in another order, odd indentation.
      "<row>",
      "<rq>20250101</rq>\t<jg>J2</jg><sy>A</sy><mw>W</mw><se>S</se><je>E</je>",
      "        <kr>20250102</kr><xf>X</xf><gf>G</gf><hm>H</hm><dm>D</dm>",
      "</row>",
  });
  WriteFile("in.xml", CrLfLines(lines));
  const Xml2TxtRun run = Xml2Txt("in.xml", "out.txt");
  ASSERT_EQ(run.result, kOk) << run.message;
  EXPECT_EQ(ReadFile("out.txt"),
            "NEW\tH1\tG1\tX1\t2024/01/31\t1\t2\tM\t1\tJ\t2024/02/01\r\n"
            "D\tH\tG\tX\t2025/01/02\tE\tS\tW\tA\tJ2\t2025/01/01\r\n");
}

TEST_F(ConformanceTest, Xml2TxtLongNsrIsCut) {
  const std::string nsr = std::string(254, 'n') + "\xC4\xCF" + "tail";
  WriteFile("in.xml", ReturnedDocument(nsr, "0", {}));
  const Xml2TxtRun run = Xml2Txt("in.xml", "out.txt");
  EXPECT_EQ(run.result, kOk);
  EXPECT_EQ(run.nsr, Holding(nsr.substr(0, 255)));
  EXPECT_EQ(ReadFile("out.txt"), "");
}

// ---------------------------------------------------------------------------
// Both ways.

TEST_F(ConformanceTest, RoundTripGivesTheFieldsBack) {
  const std::vector<std::string> records = {
      "1100\t0001\tBUYER\tSELLER\t20240131\t100.00\t17.00\t<p>&q\t255\tB1",
      "1100\t0002\t\xC4\xCF\xBE\xA9\tSELLER\t20231201\t5\t1\tx>y\t-1\tB2",
      "1100\t0003\tG\tX\t20230101\t7\t0\tm\tA9\tB3",
      "1100\t0004\tG\tX\t20230101\t7\t0\tm\t$ff\tB4",
  };
  std::string input;
  for (const auto& r : records) input += r + "\n";
  WriteFile("in.txt", input);
  ASSERT_EQ(Txt2Xml("in.txt", "out.xml", 100, "NSR", "QYMC"), kOk);
  // The other side answers: every row gains jg and rq, and loses bb.
  std::string returned;
  std::string document = ReadFile("out.xml");
  std::size_t pos = 0;
  while (pos < document.size()) {
    std::size_t end = document.find("\r\n", pos);
    if (end == std::string::npos) end = document.size();  // a last line without its break
    const std::string line = document.substr(pos, end - pos);
    pos = end + 2;
    if (line.find("<bb>") != std::string::npos) {
      returned += "   <jg>OK</jg>\r\n   <rq>20261207</rq>\r\n";
    } else {
      returned += line + "\r\n";
    }
  }
  WriteFile("back.xml", returned);
  const Xml2TxtRun run = Xml2Txt("back.xml", "back.txt");
  ASSERT_EQ(run.result, kOk) << run.message;
  EXPECT_EQ(run.rows, 4);
  EXPECT_EQ(run.nsr, Holding("NSR"));
  EXPECT_EQ(ReadFile("back.txt"),
            "1100\t0001\tBUYER\tSELLER\t2024/01/31\t100.00\t17.00\t<p>&q\t255\tOK\t2026/12/07\r\n"
            "1100\t0002\t\xC4\xCF\xBE\xA9\tSELLER\t2023/12/01\t5\t1\tx>y\t-1\tOK\t2026/12/07\r\n"
            "1100\t0003\tG\tX\t2023/01/01\t7\t0\tm\tA9\tOK\t2026/12/07\r\n"
            "1100\t0004\tG\tX\t2023/01/01\t7\t0\tm\t255\tOK\t2026/12/07\r\n");
}

// ---------------------------------------------------------------------------
// Loading and unloading.

TEST_F(ConformanceTest, ReloadStartsWithAnEmptySlot) {
  EXPECT_EQ(Txt2Xml("missing.txt", "out.xml"), kFailed);
  EXPECT_EQ(Message(), "Cannot open file missing.txt");
  lib_.reset();
  lib_ = std::make_unique<qtest::Library>();
  ASSERT_TRUE(lib_->loaded());
  Buffer buffer = Poisoned();
  EXPECT_EQ(lib_->get_last_error(buffer.data()), kOk);
  EXPECT_EQ(buffer, Holding(""));
}

}  // namespace
