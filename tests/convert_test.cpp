// The conversions in-process, with the clock pinned so that whole documents
// can be compared with golden files byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quorvel.h"
#include "support/files.h"
#include "support/in_process.h"
#include "support/platform_override.h"
#include "io/today.h"

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
      {100, "100", 42}, {102, "102", 36}, {0, "0", 14}, {-5, "-5", 14}, {101, "101", 14},
      {INT32_MIN, "-2147483648", 14},
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
  EXPECT_EQ(body, CrLfLines({" <data>",
                             "  <row id=\"1\">", "  </row>",
                             "  <row id=\"2\">", "  </row>",
                             "  <row id=\"3\">", "  </row>",
                             "  <row id=\"4\">", "   <dm>1</dm>", "   <hm>2</hm>", "   <gf>3</gf>",
                             "   <xf>4</xf>", "   <kr>5</kr>", "   <je>6</je>", "   <se>7</se>",
                             "   <mw>8</mw>", "   <sy>A</sy>", "   <bb>10</bb>", "  </row>",
                             "  <row id=\"5\">", "  </row>",
                             "  <row id=\"6\">", "   <dm>1</dm>", "   <hm>2</hm>", "   <gf>3</gf>",
                             "   <xf>4</xf>", "   <kr>5</kr>", "   <je>6</je>", "   <se>7</se>",
                             "   <rq><8></rq>", "  </row>",
                             " </data>", "</body>"}));
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
  EXPECT_EQ(quorvel::TodayAsYyyymmdd().view(), "20270101");
  platform_.api().local_date = [] { return quorvel::platform::LocalDate{2027, 3, 5}; };
  EXPECT_EQ(quorvel::TodayAsYyyymmdd().view(), "20270305");
  // The real clock gives what the C library says today is.
  qtest::PlatformOverride real;
  real.api().local_date = quorvel::platform::Native().local_date;
  EXPECT_EQ(quorvel::TodayAsYyyymmdd().view(), qtest::TodayYyyymmdd());
}

// Outputs far beyond the 1 MiB stream buffer come out whole and in order.
TEST_F(ConvertTest, LargeOutputsStreamCompletely) {
  const std::string record = "1100\t00000001\tBUYER\tSELLER\t20240131\t1000.00\t170.00\t<a>\t255\tB";
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
  std::string line = "1100\t00000001\tBUYER\tSELLER\t2024/01/31\t1000.00\t170.00\t<a>\t255\tJ\t2026/12/06\r\n";
  std::string expected;
  for (int i = 0; i < rows; ++i) expected += line;
  EXPECT_TRUE(ReadFile("back.txt") == expected);
}

}  // namespace
