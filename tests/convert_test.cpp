// The conversions in-process, with the clock pinned so that whole documents
// can be compared with golden files byte for byte.
#include "convert/convert.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <numeric>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "boundary/capture.h"
#include "document/layout.h"
#include "io/input.h"
#include "quorvel.h"
#include "support/files.h"
#include "support/in_process.h"
#include "support/line_list.h"
#include "support/platform_override.h"

namespace {

using qtest::CrLfLines;
using qtest::ReadFile;
using qtest::WriteFile;

std::string Golden(const std::string& name) {
  return ReadFile(std::string(QUORVEL_TEST_DATA) + "/" + name);
}

using qtest::LastError;

class ConvertTest : public qtest::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    platform_.api().local_date = qtest::PinnedDate;
  }
  qtest::PlatformOverride platform_;
};

TEST_F(ConvertTest, WorkedExamplesMatchTheirGoldenDocuments) {
  WriteFile("full.txt", "F1\tF2\tF3\tF4\tF5\tF6\tF7\tx<y>\t255\tF10");
  ASSERT_EQ(Quorvel_TXT2XML("full.txt", "full.xml", 102, "N1", "Q1"), QUORVEL_RESULT_OK);
  EXPECT_EQ(ReadFile("full.xml"), Golden("example_full.xml"));
  WriteFile("short.txt", "F1\tF2\tF3\tF4\tF5\tF6\tF7\tF8\r\n");
  ASSERT_EQ(Quorvel_TXT2XML("short.txt", "short.xml", 102, "N1", "Q1"), QUORVEL_RESULT_OK);
  EXPECT_EQ(ReadFile("short.xml"), Golden("example_short.xml"));
}

TEST_F(ConvertTest, TitlesAndCodes) {
  struct Case {
    int32_t code;
    std::string code_text;
    std::size_t title_bytes;
  };
  const std::vector<Case> cases = {
      {100, "100", 42}, {102, "102", 36}, {0, "0", 14},
      {-5, "-5", 14},   {101, "101", 14}, {INT32_MIN, "-2147483648", 14},
  };
  WriteFile("in.txt", "");
  for (const Case& c : cases) {
    ASSERT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", c.code, "", ""), QUORVEL_RESULT_OK);
    const std::string doc = ReadFile("out.xml");
    const std::string code = "RZ00" + c.code_text;
    EXPECT_NE(doc.find("<!-- DOCTYPE " + code + " SYSTEM \"" + code + ".dtd\" -->\r\n"),
              std::string::npos);
    EXPECT_NE(doc.find("  <code>" + code + "</code>\r\n"), std::string::npos);
    const std::size_t title = doc.find("<title>") + 7;
    EXPECT_EQ(doc.find("</title>") - title, c.title_bytes) << c.code;
  }
}

TEST_F(ConvertTest, RowsOfEveryFieldCount) {
  // Empty line, 2, 9 (ten with the last empty), 10 plus a trailing TAB, 11,
  // and 8 plus a trailing TAB; a final line break adds no row.
  WriteFile("in.txt",
            "\n"
            "a\tb\n"
            "1\t2\t3\t4\t5\t6\t7\t8\t9\t\n"
            "1\t2\t3\t4\t5\t6\t7\t8\tA\t10\t\n"
            "1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\n"
            "1\t2\t3\t4\t5\t6\t7\t<8>\t\r\n");
  ASSERT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_OK);
  const std::string doc = ReadFile("out.xml");
  const std::string body = doc.substr(doc.find(" <data>"));
  EXPECT_EQ(body,
            CrLfLines({" <data>",       "  <row id=\"1\">", "  </row>",      "  <row id=\"2\">",
                       "  </row>",      "  <row id=\"3\">", "  </row>",      "  <row id=\"4\">",
                       "   <dm>1</dm>", "   <hm>2</hm>",    "   <gf>3</gf>", "   <xf>4</xf>",
                       "   <kr>5</kr>", "   <je>6</je>",    "   <se>7</se>", "   <mw>8</mw>",
                       "   <sy>A</sy>", "   <bb>10</bb>",   "  </row>",      "  <row id=\"5\">",
                       "  </row>",      "  <row id=\"6\">", "   <dm>1</dm>", "   <hm>2</hm>",
                       "   <gf>3</gf>", "   <xf>4</xf>",    "   <kr>5</kr>", "   <je>6</je>",
                       "   <se>7</se>", "   <rq><8></rq>",  "  </row>",      " </data>",
                       "</body>"}));
  EXPECT_NE(doc.find("  <rows>6</rows>\r\n"), std::string::npos);
}

TEST_F(ConvertTest, SyEncodings) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"A12", "A12"},
      {"255", "00000000000000FF"},
      {"-1", "FFFFFFFFFFFFFFFF"},
      {"$FF", "00000000000000FF"},
      {"0xFF", "00000000000000FF"},
      {"0", "0000000000000000"},
      {" 16", "0000000000000010"},
      {"-9223372036854775808", "8000000000000000"},
      {"A", "A"},
  };
  for (const auto& [field, encoded] : cases) {
    WriteFile("in.txt", "1\t2\t3\t4\t5\t6\t7\t8\t" + field + "\t10");
    ASSERT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "", ""), QUORVEL_RESULT_OK) << field;
    EXPECT_NE(ReadFile("out.xml").find("   <sy>" + encoded + "</sy>\r\n"), std::string::npos)
        << field;
  }
}

TEST_F(ConvertTest, TodayComesFromTheLocalCalendar) {
  platform_.api().local_date = [] { return quorvel::platform::LocalDate{2027, 1, 1}; };
  EXPECT_EQ(quorvel::DocumentDate(nullptr).view(), "20270101");
  platform_.api().local_date = [] { return quorvel::platform::LocalDate{2027, 3, 5}; };
  EXPECT_EQ(quorvel::DocumentDate(nullptr).view(), "20270305");
  // The real clock gives what the C library says today is.
  qtest::PlatformOverride real;
  real.api().local_date = quorvel::platform::Native().local_date;
  EXPECT_EQ(quorvel::DocumentDate(nullptr).view(), qtest::TodayYyyymmdd());
}

// Outputs far beyond the 1 MiB stream buffer come out whole and in order.
TEST_F(ConvertTest, LargeOutputsStreamCompletely) {
  const std::string record =
      "1100\t00000001\tBUYER\tSELLER\t20240131\t1000.00\t170.00\t<a>\t255\tB";
  std::string input;
  const int rows = 30000;
  for (int i = 0; i < rows; ++i) input += record + "\r\n";
  WriteFile("in.txt", input);
  ASSERT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_OK);
  const std::string doc = ReadFile("out.xml");
  const std::string row =
      "   <dm>1100</dm>\r\n   <hm>00000001</hm>\r\n   <gf>BUYER</gf>\r\n   <xf>SELLER</xf>\r\n"
      "   <kr>20240131</kr>\r\n   <je>1000.00</je>\r\n   <se>170.00</se>\r\n"
      "   <mw>&lt;a&gt;</mw>\r\n   <sy>00000000000000FF</sy>\r\n   <bb>B</bb>\r\n  </row>\r\n";
  std::size_t expected_size = doc.find(" <data>") + 9 + 10 + 9;  // + data and body closes
  for (int i = 1; i <= rows; ++i) expected_size += 13 + std::to_string(i).size() + 2 + row.size();
  EXPECT_EQ(doc.size(), expected_size);
  EXPECT_TRUE(doc.ends_with("  <row id=\"30000\">\r\n" + row + " </data>\r\n</body>\r\n"));

  // And back: 30000 result lines.
  std::string returned;
  for (std::size_t pos = 0, at; (at = doc.find("   <bb>B</bb>", pos)) != std::string::npos;
       pos = at + 13) {
    returned.append(doc, pos, at - pos).append("<jg>J</jg><rq>20261206</rq>");
    if (doc.find("   <bb>B</bb>", at + 13) == std::string::npos) returned.append(doc, at + 13);
  }
  WriteFile("back.xml", returned);
  int32_t count = 0;
  char nsr[256], reserved[256];
  ASSERT_EQ(Quorvel_XML2TXT("back.xml", "back.txt", 0, &count, nsr, reserved), QUORVEL_RESULT_OK)
      << LastError();
  EXPECT_EQ(count, rows);
  std::string line =
      "1100\t00000001\tBUYER\tSELLER\t2024/01/31\t1000.00\t170.00\t<a>\t255\tJ\t2026/12/06\r\n";
  std::string expected;
  for (int i = 0; i < rows; ++i) expected += line;
  EXPECT_TRUE(ReadFile("back.txt") == expected);
}

// A returned row with all eleven values, one element a line.
std::string ResultBlock(const std::string& id, const std::string& sy = "7B") {
  return "  <row id=\"" + id + "\">\r\n   <dm>D" + id +
         "</dm>\r\n   <hm>H</hm>\r\n   <gf>G</gf>\r\n" +
         "   <xf>X</xf>\r\n   <kr>20240131</kr>\r\n   <je>1</je>\r\n   <se>2</se>\r\n" +
         "   <mw>&lt;m&gt;</mw>\r\n   <sy>" + sy + "</sy>\r\n   <jg>J</jg>\r\n" +
         "   <rq>20261206</rq>\r\n  </row>\r\n";
}

std::string ResultLine(const std::string& id, const std::string& sy = "123") {
  return "D" + id + "\tH\tG\tX\t2024/01/31\t1\t2\t<m>\t" + sy + "\tJ\t2026/12/06\r\n";
}

// Values of every length up to well past two 32-byte moves come out whole,
// each in a row of its own, and so does a row too long for the room the
// writer reserves (its pieces appended one by one, dates included).
TEST_F(ConvertTest, ResultValuesOfEveryLengthComeOutWhole) {
  std::string document = "<body>\r\n <nsr>N</nsr>\r\n <rows>81</rows>\r\n <data>\r\n";
  std::string expected;
  std::vector<int> sizes(80);
  std::iota(sizes.begin(), sizes.end(), 1);
  sizes.push_back(70000);
  for (const int size : sizes) {
    std::string value;
    for (int i = 0; i < size; ++i) value += static_cast<char>('a' + (size + i) % 26);
    std::string block = ResultBlock(std::to_string(size));
    block.replace(block.find("<xf>X</xf>"), 10, "<xf>" + value + "</xf>");
    document += block;
    std::string line = ResultLine(std::to_string(size));
    line.replace(line.find("\tX\t"), 3, "\t" + value + "\t");
    expected += line;
  }
  WriteFile("in.xml", document + " </data>\r\n</body>\r\n");
  int32_t rows = 0;
  char nsr[256], reserved[256];
  ASSERT_EQ(Quorvel_XML2TXT("in.xml", "out.txt", 0, &rows, nsr, reserved), QUORVEL_RESULT_OK)
      << LastError();
  EXPECT_EQ(ReadFile("out.txt"), expected);
}

// The data line may come before the header values: the header searches then
// run on past it, and the rows are read from the data line all the same.
TEST_F(ConvertTest, HeaderValuesAfterTheDataLine) {
  WriteFile("in.xml", "<body>\r\n <data>\r\n" + ResultBlock("1") + ResultBlock("2") +
                          " </data>\r\n <nsr></nsr>\r\n <rows>2</rows>\r\n <nsr>LATE</nsr>\r\n");
  int32_t rows = 0;
  char nsr[256], reserved[256];
  ASSERT_EQ(Quorvel_XML2TXT("in.xml", "out.txt", 0, &rows, nsr, reserved), QUORVEL_RESULT_OK)
      << LastError();
  EXPECT_EQ(rows, 2);
  EXPECT_STREQ(nsr, "LATE");
  EXPECT_EQ(ReadFile("out.txt"), ResultLine("1") + ResultLine("2"));
}

// CR LF, LF and a lone CR each end a line, in any mix, in both conversions.
TEST_F(ConvertTest, EveryLineBreakStyleReadsAlike) {
  const std::string document = "<nsr>N</nsr>\r\n<rows>2</rows>\r\n<data>\r\n" + ResultBlock("1") +
                               ResultBlock("2") + "</data>\r\n";
  const std::string text = "F1\tF2\tF3\tF4\tF5\tF6\tF7\tx<y>\t255\tF10\r\n\r\na\tb\r\n";
  const std::string expected_text = ResultLine("1") + ResultLine("2");
  WriteFile("in.txt", text);
  ASSERT_EQ(Quorvel_TXT2XML("in.txt", "expected.xml", 100, "N", "Q"), QUORVEL_RESULT_OK);
  const std::string expected_document = ReadFile("expected.xml");
  auto restyle = [](std::string content, const std::string& style, bool mixed) {
    std::string out;
    int n = 0;
    for (std::size_t at; (at = content.find("\r\n")) != std::string::npos;
         content.erase(0, at + 2)) {
      out += content.substr(0, at) + (mixed && n++ % 2 ? std::string("\r\n") : style);
    }
    return out + content;
  };
  for (const std::string style : {"\r\n", "\n", "\r"}) {
    for (const bool mixed : {false, true}) {
      SCOPED_TRACE(testing::PrintToString(style) + (mixed ? " mixed" : ""));
      WriteFile("in.xml", restyle(document, style, mixed));
      int32_t rows = 0;
      char nsr[256], reserved[256];
      ASSERT_EQ(Quorvel_XML2TXT("in.xml", "out.txt", 0, &rows, nsr, reserved), QUORVEL_RESULT_OK)
          << LastError();
      EXPECT_EQ(ReadFile("out.txt"), expected_text);
      // Lines without a tag count as lines too: a search that runs off the
      // end names the same line count.
      const std::string short_of_rows =
          restyle("<nsr>N</nsr>\r\n<rows>3</rows>\r\n<data>\r\n\r\ntext\r\n" + ResultBlock("1") +
                      "\r\n" + ResultBlock("2") + "\r\nend\r\n",
                  style, mixed);
      WriteFile("in.xml", short_of_rows);
      EXPECT_EQ(Quorvel_XML2TXT("in.xml", "out.txt", 0, &rows, nsr, reserved),
                QUORVEL_RESULT_FAILED);
      EXPECT_EQ(qtest::LineList(short_of_rows).Count(), 34);
      EXPECT_EQ(LastError(), "List index out of bounds (34)");
      WriteFile("in.txt", restyle(text, style, mixed));
      ASSERT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "N", "Q"), QUORVEL_RESULT_OK);
      EXPECT_EQ(ReadFile("out.xml"), expected_document);
    }
  }
}

// What a host can see of one call: result, message, RowsCount, both buffers
// whole, and the output file.
struct Outcome {
  int32_t result = 0;
  std::string message;
  int32_t rows = 0;
  std::array<char, 256> nsr{};
  std::array<char, 256> reserved{};
  std::string output;
  bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* os) {
  *os << "result " << o.result << ", message [" << o.message << "], rows " << o.rows << ", nsr ["
      << std::string(o.nsr.data(), 8) << "], output " << testing::PrintToString(o.output);
}

Outcome RunXml2Txt() {
  Outcome o;
  o.rows = -77;
  o.nsr.fill('#');
  o.reserved.fill('#');
  WriteFile("out.txt", "previous");
  o.result = Quorvel_XML2TXT("in", "out.txt", 0, &o.rows, o.nsr.data(), o.reserved.data());
  o.message = LastError();
  o.output = ReadFile("out.txt");
  return o;
}

Outcome RunTxt2Xml() {
  Outcome o;
  WriteFile("out.txt", "previous");
  o.result = Quorvel_TXT2XML("in", "out.txt", 100, "N", "Q");
  o.message = LastError();
  o.output = ReadFile("out.txt");
  return o;
}

// Every outcome is the same whatever the read window: with a window of one
// byte up, every line, CR LF pair and element crosses its edge somewhere, and
// the reader walks back to a data line that came before the header values.
TEST_F(ConvertTest, OutcomesDoNotDependOnTheReadWindow) {
  const std::string samples = std::string(QUORVEL_TEST_DATA) + "/../../samples/";
  const std::string header = "<nsr>N</nsr>\r\n<rows>2</rows>\r\n<data>\r\n";
  std::vector<std::string> documents = {
      ReadFile(samples + "returned.xml"),
      header + ResultBlock("1") + ResultBlock("2"),
      "<data>\n<data>\r" + ResultBlock("1") + "<nsr>N</nsr>\n" + ResultBlock("2") +
          "<rows>2</rows>",
      header + ResultBlock("1") + "<row>\r\n<dm>x</dm></row>\r\n</row>\r\n",  // incomplete
      header + ResultBlock("1", "G1") + ResultBlock("2"),                     // bad sy
      header + ResultBlock("1") + "<row>\r\n<sy>G2</sy>\r\n",                 // unclosed
      "<nsr>N</nsr>\r\n<rows>x</rows>\r\n<data>",                             // bad rows
      "<data>\r\n<data>\r\n<rows>1</rows>\r\n",                               // no nsr
      "<nsr>N</nsr>\r\n<rows>0</rows>\r\n",                                   // no data
      header + ResultBlock("1") + ResultBlock("2", "A") + std::string("\0", 1) + "x",
      "",
      // Found by fuzzing: a document whose rows search runs off its end.
      std::string(
          "x\r00000\n<nsr>N</nsr>\r\n<rows>$5</rows>\r\n<data>\r\n<r\xff\xff\xff\x01o\xff\x05w>"
          "\r\n<dm>1</dm>\r\n</row>\r\n"),
  };
  // Rows laid out nearly as a writer lays them out: a row may be read whole
  // or walked, and must come out as the walk reads it. The change is made to
  // the first of three rows.
  const std::string three = "<nsr>N</nsr>\r\n<rows>3</rows>\r\n<data>\r\n";
  for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
           {"</dm>\r\n", "</dm> x\r\n"},
           {"</dm>\r\n", "</dm><hm>H2</hm>\r\n"},
           {"<dm>D1", "<dm> \tD1 "},
           {"<dm>D1", "<dm> "},
           {"<dm>D1", "<dx>D1"},
           {"<xf>X", "<xf>X\rY"},
           {"   <hm>", "\t<hm>"},
           {"   <jg>", "<jg>"},  // the next row's indentation is learnt anew
           {"</hm>\r\n", "</hm>\n"},
           {"</hm>\r\n", "</hm>\r"},
           {"</hm>\r\n", "</hm>\r\r\n"},
           {"<dm>D1</dm>\r\n   <hm>H</hm>", "<hm>H</hm>\r\n   <dm>D1</dm>"},
           {"<hm>H</hm>\r\n", "<hm>H</hm>\r\n<hm>H2</hm>\r\n"},
           {"\">\r\n", "\"><dm>E</dm>\r\n"},
           {"\">\r\n", "\"></row>\r\n"},
           {"<row id", "<rows id"},
           {"</row>\r\n", "</row> <x>\r\n"},
       }) {
    std::string block = ResultBlock("1");
    block.replace(block.find(from), from.size(), to);
    documents.push_back(three + block + ResultBlock("2") + ResultBlock("3") + "</data>\r\n");
  }
  const std::vector<std::string> texts = {
      ReadFile(samples + "invoices.txt"),
      "a\tb\r\n\r\nF1\tF2\tF3\tF4\tF5\tF6\tF7\tx<y>\t255\tF10\rF1\tF2\tF3\tF4\tF5\tF6\tF7\tF8\n",
      "1\t2\t3\t4\t5\t6\t7\t8\t$zz\t10\r\n",
      std::string(300, 'x') + "\r\n\r\n" + std::string("\0", 1) + "\r\n",
      "",
  };
  const std::size_t saved = quorvel::InputWindow();
  using Run = Outcome (*)();
  for (const auto& [contents, run] :
       {std::pair<std::vector<std::string>, Run>{documents, RunXml2Txt}, {texts, RunTxt2Xml}}) {
    for (const std::string& content : contents) {
      SCOPED_TRACE(testing::PrintToString(content.substr(0, 120)));
      WriteFile("in", content);
      quorvel::InputWindow() = saved;
      const Outcome expected = run();
      for (const std::size_t window : {1, 2, 3, 5, 8, 13, 64}) {
        quorvel::InputWindow() = window;
        EXPECT_EQ(run(), expected) << "window " << window;
      }
    }
  }
  quorvel::InputWindow() = saved;
}

// What a conversion tells its caller, one text per finding.
class Recorder : public quorvel::Findings {
 public:
  std::vector<std::string> events;
  std::vector<std::array<std::uint64_t, 3>> progress;

  void Progress(std::uint64_t done, std::uint64_t total, std::int64_t rows) override {
    progress.push_back({done, total, static_cast<std::uint64_t>(rows)});
  }
  void EmptyRow(std::int64_t line, std::int32_t fields, std::string_view text) override {
    Add("empty", line, std::to_string(fields) + " " + std::string(text));
  }
  void Rejected(const quorvel::RejectedValue& value) override {
    using quorvel::document::Unfit;
    const char* why = value.why == Unfit::kByte        ? ""
                      : value.why == Unfit::kLineBreak ? " break"
                      : value.why == Unfit::kCdataEnd  ? " ]]>"
                      : value.why == Unfit::kNotGbk    ? " not-gbk"
                                                       : " none";
    Add("rejected", value.line,
        std::string(value.element) + " " + std::to_string(value.byte) + why);
  }
  void EndedAtNul(const quorvel::NulEnd& end) override {
    Add("nul", end.line, std::to_string(end.following) + (end.exact ? "" : "+"));
  }
  void RowsWritten(std::int64_t rows) override { Add("written", rows, ""); }
  void Incomplete(const quorvel::IncompleteRow& row) override {
    Add("incomplete", row.ordinal,
        std::string(row.id) + " " + std::to_string(row.first_line) + "-" +
            std::to_string(row.last_line) + " " + std::to_string(row.missing));
  }
  void RowCount(std::int32_t declared, std::int64_t blocks) override {
    Add("count", declared, std::to_string(blocks));
  }
  void Temporary(std::string_view path, bool held) noexcept override {
    temporaries.push_back((held ? "+" : "-") + std::string(path));
  }
  std::vector<std::string> temporaries;

  // The last report of progress has every byte and row done; none goes back.
  void ExpectProgressEnds(std::uint64_t bytes, std::uint64_t rows) const {
    ASSERT_FALSE(progress.empty());
    for (std::size_t i = 1; i < progress.size(); ++i) EXPECT_LE(progress[i - 1][0], progress[i][0]);
    EXPECT_EQ(progress.back(), (std::array<std::uint64_t, 3>{bytes, bytes, rows}));
  }

 private:
  void Add(const char* kind, std::int64_t number, const std::string& rest) {
    events.push_back(std::string(kind) + " " + std::to_string(number) + " " + rest);
  }
};

// Every finding of txt2xml, in input order, from the read that converts,
// whatever the window; the document is the one the export writes, with the
// given date in place of today's.
TEST_F(ConvertTest, TextFindings) {
  using namespace std::string_literals;
  struct Case {
    std::string text, nsr, qymc;
    std::vector<std::string> events;
  };
  const std::vector<Case> cases = {
      {"F1\tF2\tF3\tF4\tF5\tF6\tF7\tx<y>\t255\tF10", "N1", "Q1", {"written 1 "}},
      {"", "N&", "Q<\x02", {"rejected 0 nsr 38", "rejected 0 qymc 60", "written 0 "}},
      {"1\t2\t3\t4\t5\t6\t7\ta<b&\tA\x01\tB<\r\n\r\nx\ty\n1\t2&\t3\t4\t5\t6\t7\t<8>\r"
       "1\t2\t3\t4\t5\t6\t7\t\x1f\t-1\tb\na\tb\tc\td\te\tf\tg\th\ti\tj\tk",
       "\t",
       "\r\n",
       {"rejected 0 qymc 13 break", "rejected 1 mw 38", "rejected 1 sy 1", "rejected 1 bb 60",
        "empty 2 0 ", "empty 3 2 x\ty", "rejected 4 hm 38", "rejected 4 rq 60", "rejected 5 mw 31",
        "empty 6 11 a\tb\tc\td\te\tf\tg\th\ti\tj\tk", "written 6 "}},
      // "]]>" outside mw (where ">" is an entity), bytes that begin no GBK
      // character (a "]" that ends one is no "]]"; FEFE has GBK's shape but no
      // character), a line break in a header.
      {"a]]>\t\xD6\xD0\t\x81]]>\t\xD6\t\x80\t6\t7\t]]>\tA\xFF\x40\t\xFE\xFE\n"
       "1\t2\t3\t4\t5\t6\t7\tb]]\xD6\n",
       "N\n",
       "\xD6\xD0\xD6",
       {"rejected 0 nsr 10 break", "rejected 0 qymc -42 not-gbk", "rejected 1 dm 93 ]]>",
        "rejected 1 xf -42 not-gbk", "rejected 1 kr -128 not-gbk", "rejected 1 sy -1 not-gbk",
        "rejected 1 bb -2 not-gbk", "rejected 2 rq -42 not-gbk", "written 2 "}},
      // A NUL ends the content: on its line, the bytes after it counted; one
      // that is the last byte cuts nothing off.
      {"a\tb\n1\t2\0\t3\nmore\n"s, "N", "Q", {"nul 2 8", "empty 1 2 a\tb", "empty 2 2 1\t2", "written 2 "}},
      {"a\tb\r\0x"s, "N", "Q", {"nul 2 1", "empty 1 2 a\tb", "written 1 "}},
      {"\0"s, "N", "Q", {"written 0 "}},
      {"a\n\0"s, "N", "Q", {"empty 1 1 a", "written 1 "}},
  };
  const quorvel::Date date{2031, 2, 3};
  const std::size_t saved = quorvel::InputWindow();
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    WriteFile("in.txt", c.text);
    ASSERT_EQ(Quorvel_TXT2XML("in.txt", "plain.xml", 100, c.nsr.c_str(), c.qymc.c_str()),
              QUORVEL_RESULT_OK);
    std::string expected = ReadFile("plain.xml");
    expected.replace(expected.find("20261206"), 8, "20310203");
    for (const std::size_t window : {saved, std::size_t{3}}) {
      quorvel::InputWindow() = window;
      Recorder recorder;
      quorvel::ConvertTextToDocument("in.txt", "out.xml", 100,
                                     quorvel::document::TitleForDocumentType(100), c.nsr, c.qymc,
                                     {&recorder, &date});
      EXPECT_EQ(recorder.events, c.events);
      EXPECT_EQ(ReadFile("out.xml"), expected);
      // The save's temporary file, held until it took the target's place.
      ASSERT_EQ(recorder.temporaries.size(), 2u);
      EXPECT_TRUE(recorder.temporaries[0].starts_with("+") &&
                  recorder.temporaries[0].find("out.xml.~") != std::string::npos);
      EXPECT_EQ(recorder.temporaries[1], "-" + recorder.temporaries[0].substr(1));
      // (With a NUL the total is the file's size, not the content's.)
      const std::string rows = c.events.back().substr(std::string("written ").size());
      if (!c.text.empty() && c.text.find('\0') == std::string::npos) {
        recorder.ExpectProgressEnds(c.text.size(), std::stoull(rows));
      }
    }
  }
  quorvel::InputWindow() = saved;
}

// Every finding of xml2txt: incomplete rows, the row count against the
// blocks the document holds (read to its end when asked), and which search
// ran out, where it began. With or without an observer the outcome and the
// bytes written are the same.
TEST_F(ConvertTest, DocumentFindings) {
  auto header = [](const std::string& rows) {
    return "<nsr>N</nsr>\r\n<rows>" + rows + "</rows>\r\n<data>\r\n";
  };
  using quorvel::Unfinished;
  struct Case {
    std::string document;
    std::vector<std::string> events;
    bool ok;
    std::string output;  // what out.txt holds after (it held "old")
    std::string message;
    Unfinished unfinished;
    std::int64_t line;
  };
  const std::vector<Case> cases = {
      {header("2") + ResultBlock("1") + ResultBlock("2") + ResultBlock("3") + " </data>",
       {"count 2 3"},
       true,
       ResultLine("1") + ResultLine("2"),
       "",
       Unfinished::kNone,
       0},
      {header("2") + ResultBlock("1") + "<row id=\"9\">\r\n<dm>x</dm></row>\r\n</row>\r\n",
       {"incomplete 2 9 17-18 2046", "count 2 2"},
       false,
       "old",
       "",
       Unfinished::kNone,
       0},
      {header("0") + ResultBlock("1"), {"count 0 1"}, true, "", "", Unfinished::kNone, 0},
      {"<rows>1</rows>\r\n<data>\r\n",
       {},
       false,
       "old",
       "List index out of bounds (2)",
       Unfinished::kNsr,
       1},
      {"<nsr>N</nsr>\n<data>\n",
       {},
       false,
       "old",
       "List index out of bounds (2)",
       Unfinished::kRows,
       1},
      {"<nsr>N</nsr>\r<rows>0</rows>",
       {},
       false,
       "old",
       "List index out of bounds (2)",
       Unfinished::kDataLine,
       2},
      {header("1") + "<row id=\"1\">\r\n<dm>x</dm>\r\n",
       {},
       false,
       "old",
       "List index out of bounds (5)",
       Unfinished::kRowBlock,
       4},
      {header("2") + ResultBlock("1"),
       {},
       false,
       "old",
       "List index out of bounds (16)",
       Unfinished::kRowBlock,
       17},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.document));
    WriteFile("in.xml", c.document);
    for (const bool observed : {false, true}) {
      WriteFile("out.txt", "old");
      Recorder recorder;
      std::int32_t rows = -7;
      char nsr[256], reserved[256];
      const quorvel::Outcome outcome = quorvel::Capture([&] {
        return quorvel::ConvertDocumentToText("in.xml", "out.txt", &rows, nsr, reserved,
                                              {observed ? &recorder : nullptr, nullptr});
      });
      EXPECT_EQ(outcome.ok, c.ok);
      EXPECT_EQ(outcome.message, c.message);
      EXPECT_EQ(outcome.unfinished, c.unfinished);
      EXPECT_EQ(outcome.line, c.line);
      EXPECT_EQ(ReadFile("out.txt"), c.output);
      if (!observed) continue;
      EXPECT_EQ(recorder.events, c.events);
      if (c.message.empty())
        recorder.ExpectProgressEnds(c.document.size(), static_cast<std::uint64_t>(rows));
    }
  }
}

// What a conversion raises, as the host is told it: exhausted memory as
// "Out of memory", a type the library never raises as its output not made,
// never as memory; a failure with all it carries.
TEST_F(ConvertTest, CaptureTellsWhatWasRaised) {
  using quorvel::MessageId;
  struct Case {
    void (*raise)();
    MessageId kind;
    std::string message;
    int system_error;
  };
  const std::vector<Case> cases = {
      {[] { quorvel::RaiseCannotOpenFile("in.txt", ENOENT); }, MessageId::kCannotOpenFile,
       "Cannot open file in.txt", ENOENT},
      {[] { throw std::bad_alloc(); }, MessageId::kOutOfMemory, "", 0},
      {[] { throw std::length_error("long"); }, MessageId::kOutOfMemory, "", 0},
      // Other logic errors are no want of memory.
      {[] { throw std::out_of_range("at"); }, MessageId::kCannotCreateFile,
       "Cannot create file out.xml", 0},
      {[] { throw std::invalid_argument("stoi"); }, MessageId::kCannotCreateFile,
       "Cannot create file out.xml", 0},
      {[] { throw std::runtime_error("odd"); }, MessageId::kCannotCreateFile,
       "Cannot create file out.xml", 0},
      {[] { throw std::system_error(EAGAIN, std::generic_category()); },
       MessageId::kCannotCreateFile, "Cannot create file out.xml", EAGAIN},
      {[] { throw 7; }, MessageId::kCannotCreateFile, "Cannot create file out.xml", 0},
  };
  for (const Case& c : cases) {
    const quorvel::Outcome outcome = quorvel::Capture(
        [&] {
          c.raise();
          return true;
        },
        "out.xml");
    EXPECT_TRUE(outcome.failed && !outcome.ok);
    EXPECT_EQ(outcome.kind, c.kind);
    EXPECT_EQ(outcome.message, c.message);
    EXPECT_EQ(outcome.file, c.message.empty() ? "" : c.message.substr(c.message.rfind(' ') + 1));
    EXPECT_EQ(outcome.system_error, c.system_error);
  }
  // Through the export, the target untouched.
  WriteFile("in.txt", "a");
  WriteFile("out.xml", "old");
  platform_.api().local_date = []() -> quorvel::platform::LocalDate {
    throw std::runtime_error("odd");
  };
  EXPECT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "", ""), QUORVEL_RESULT_FAILED);
  EXPECT_EQ(LastError(), "Cannot create file out.xml");
  platform_.api().local_date = []() -> quorvel::platform::LocalDate {
    throw std::out_of_range("at");
  };
  EXPECT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "", ""), QUORVEL_RESULT_FAILED);
  EXPECT_EQ(LastError(), "Cannot create file out.xml");
  platform_.api().local_date = []() -> quorvel::platform::LocalDate { throw std::bad_alloc(); };
  EXPECT_EQ(Quorvel_TXT2XML("in.txt", "out.xml", 100, "", ""), QUORVEL_RESULT_FAILED);
  EXPECT_EQ(LastError(), "Out of memory");
  EXPECT_EQ(ReadFile("out.xml"), "old");
  EXPECT_EQ(Leftovers().size(), 2u);  // no temporary file left
}

}  // namespace
