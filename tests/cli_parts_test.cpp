// The command-line host's own pieces. What mirrors the library (lines, field
// counts, row blocks) is held to the library itself, through its exports, on
// random inputs; the character-set conversions to the system's converter,
// there and back. Runs natively and, as a Windows program, under Wine, where
// the conversions are Windows' own.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "charset.h"
#include "document_scan.h"
#include "files.h"
#include "line_stream.h"
#include "options.h"
#include "system.h"
#include "text_scan.h"
#include "utf8.h"

namespace quorvel::cli {
namespace {

using namespace std::string_literals;

// A private file holding `content`, removed with the object.
class ContentFile {
 public:
  explicit ContentFile(std::string_view content) {
    std::string why;
    EXPECT_TRUE(temp_.Create(&why)) << why;
    File file = OpenFile(temp_.path(), "wb");
    EXPECT_EQ(std::fwrite(content.data(), 1, content.size(), file.get()), content.size());
  }
  const std::string& path() const { return temp_.path(); }
  File Open() const { return OpenFile(temp_.path(), "rb"); }

 private:
  TempFile temp_;
};

std::string ReadAll(const std::string& path) {
  File file = OpenFile(path, "rb");
  std::string bytes;
  char buffer[4096];
  for (std::size_t got; file && (got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) {
    bytes.append(buffer, got);
  }
  return bytes;
}

// The line-splitting rule written plainly: each line with its break.
std::vector<std::pair<std::string, std::string>> PlainLines(std::string content) {
  content = content.substr(0, content.find('\0'));
  std::vector<std::pair<std::string, std::string>> lines;
  for (std::size_t at = 0; at < content.size();) {
    const std::size_t end = std::min(content.find_first_of("\r\n", at), content.size());
    std::string line_break = content.substr(end, content.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    lines.emplace_back(content.substr(at, end - at), line_break);
    at = end + line_break.size();
  }
  return lines;
}

std::vector<std::pair<std::string, std::string>> ReaderLines(const ContentFile& file,
                                                             std::size_t chunk) {
  const File in = file.Open();
  LineStream reader(in.get(), chunk);
  std::vector<std::pair<std::string, std::string>> lines;
  std::string_view text;
  std::string_view line_break;
  while (reader.Next(&text, &line_break)) {
    lines.emplace_back(text, line_break);
    EXPECT_EQ(reader.number(), static_cast<std::int64_t>(lines.size()));
  }
  EXPECT_FALSE(reader.failed());
  return lines;
}

TEST(LineStream, SplitsByTheRuleAtEveryChunkBoundary) {
  const std::vector<std::string> fixed = {"",
                                          "a",
                                          "a\r\nb",
                                          "a\r\nb\r\n",
                                          "a\n\nb",
                                          "a\rb",
                                          "a\n\rb",
                                          "a\r\rb",
                                          "\r\n",
                                          "\n\n",
                                          "\r",
                                          "a\0b\r\nc"s,
                                          "\0abc"s,
                                          "a\r\0"s,
                                          "a\r\n\0b"s,
                                          std::string(100, 'x') + "\r",
                                          std::string(3000, 'y') + "\r\n" + std::string(5000, 'z')};
  std::mt19937 random(14);
  std::vector<std::string> contents = fixed;
  constexpr char kAlphabet[] = {'a', 'b', '\t', '\r', '\n', '\r', '\n', '\0'};
  for (int i = 0; i < 400; ++i) {
    std::string content(random() % 40, 'a');
    for (char& c : content) c = kAlphabet[random() % (i % 2 == 0 ? 7 : 8)];
    contents.push_back(content);
  }
  for (const std::string& content : contents) {
    const ContentFile file(content);
    for (const std::size_t chunk : {1, 2, 3, 7, 64, 1 << 20}) {
      EXPECT_EQ(ReaderLines(file, chunk), PlainLines(content))
          << "chunk " << chunk << " content [" << content << "]";
    }
  }
}

// A text of random records: 0-11 fields, trailing TABs, every kind of line
// break, sometimes a NUL. Every field is a valid sy value, so the library
// converts every text.
std::string RandomText(std::mt19937& random) {
  constexpr std::array<const char*, 4> kBreaks = {"\n", "\r\n", "\r", ""};
  std::string text;
  const int lines = static_cast<int>(random() % 30);
  for (int line = 0; line < lines; ++line) {
    const int fields = static_cast<int>(random() % 12);
    for (int k = 0; k < fields; ++k) {
      if (k > 0) text += '\t';
      text += random() % 2 ? "7" : "A1";
    }
    if (random() % 6 == 0) text += '\t';
    text += kBreaks[line + 1 == lines ? random() % 4 : random() % 3];
  }
  if (random() % 10 == 0) text += "\0tail\t\n"s;
  return text;
}

// The rows the library wrote without element lines: their ids.
std::vector<std::int64_t> EmptyRowsOf(const std::string& document) {
  std::vector<std::int64_t> ids;
  for (std::size_t at = document.find("<row id=\""); at != std::string::npos;
       at = document.find("<row id=\"", at + 1)) {
    const std::size_t line_end = document.find("\r\n", at);
    if (document.compare(line_end + 2, 10, "  </row>\r\n") == 0) {
      ids.push_back(std::stoll(document.substr(at + 9)));
    }
  }
  return ids;
}

// The library through its exports, and a private file for its output.
class AgainstLibrary : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(LoadLibraryExports(&library, &why)) << why;
    ASSERT_TRUE(output.Create(&why)) << why;
  }

  // Converts the text `path` (made from `content`) with the library, and
  // holds `findings` to the document: its rows count, and which are empty.
  void ExpectFindingsOf(const std::string& path, const TextFindings& findings,
                        const std::string& content) {
    ASSERT_EQ(library.txt2xml(path.c_str(), output.path().c_str(), 100, "", ""), QUORVEL_RESULT_OK);
    const std::string document = ReadAll(output.path());
    EXPECT_NE(document.find("<rows>" + std::to_string(findings.lines) + "</rows>"),
              std::string::npos)
        << content;
    const std::vector<std::int64_t> empty = EmptyRowsOf(document);
    ASSERT_EQ(static_cast<std::int64_t>(empty.size()), findings.odd_count) << content;
    EXPECT_EQ(findings.full_rows + findings.short_rows + findings.odd_count, findings.lines);
    for (std::size_t k = 0; k < findings.odd.size(); ++k) {
      EXPECT_EQ(findings.odd[k].line, empty[k]) << content;
    }
  }

  Library library;
  TempFile output;
};

TEST_F(AgainstLibrary, TextScanCountsWhatTheLibraryWrites) {
  std::mt19937 random(1400);
  for (int i = 0; i < 300; ++i) {
    const std::string content = RandomText(random);
    const ContentFile file(content);
    TextFindings findings;
    EncodingStop stop;
    const File in = file.Open();
    ASSERT_EQ(ScanText(in.get(), nullptr, nullptr, &findings, &stop).status, PassStatus::kOk);
    ExpectFindingsOf(file.path(), findings, content);
  }
}

// With --encoding utf-8 the library reads the converted copy: the counts are
// of that copy, a leading byte order mark dropped first.
TEST_F(AgainstLibrary, TextScanCountsTheConvertedCopy) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::vector<std::string> contents = {
      bom,
      bom + "\r\n",
      bom + "\r\n1\t2\t3\t4\t5\t6\t7\t8",
      bom + "1\t2\t3\t4\t5\t6\t7\t8\n\xE4\xB8\xAD",
      bom + "a\tb\n",
      bom + "\0tail"s,
      "\r\n",
  };
  Converter to_gbk(Charset::kUtf8, Charset::kGbk);
  for (const std::string& content : contents) {
    const ContentFile file(content);
    TempFile copy;
    std::string why;
    ASSERT_TRUE(copy.Create(&why)) << why;
    TextFindings findings;
    EncodingStop stop;
    {
      const File in = file.Open();
      File out = OpenFile(copy.path(), "wb");
      ASSERT_EQ(ScanText(in.get(), &to_gbk, out.get(), &findings, &stop).status, PassStatus::kOk);
      ASSERT_TRUE(CloseFile(std::move(out)));
    }
    ExpectFindingsOf(copy.path(), findings, content);
  }
}

// A returned document of random lines: row blocks whole, open, closed on
// their opening line, with values missing, given twice or empty; stray
// markers; the data line sometimes first, sometimes absent.
std::string RandomDocument(std::mt19937& random, int rows) {
  static const std::vector<std::string> kPieces = {
      "<row id=\"7\">",    "</row>",      "<row id=\"8\"><dm>1</dm></row>",
      "<rows>x</rows>",    "junk",        "<dm>1</dm>",
      "<hm>1</hm>",        "<gf>1</gf>",  "<xf>1</xf>",
      "<kr>20260101</kr>", "<je>1</je>",  "<se>1</se>",
      "<mw>&lt;</mw>",     "<sy>1F</sy>", "<jg>0</jg>",
      "<rq>20260102</rq>", "<jg> </jg>",  "<dm>1</dm><hm>2</hm>"};
  static const std::vector<std::string> kFullRow = {
      "<row id=\"9\">",    "<dm>1</dm>",        "<hm>1</hm>", "<gf>1</gf>",    "<xf>1</xf>",
      "<kr>20260101</kr>", "<je>1</je>",        "<se>1</se>", "<mw>&lt;</mw>", "<sy>1F</sy>",
      "<jg>0</jg>",        "<rq>20260102</rq>", "</row>"};
  std::vector<std::string> lines = {"<?xml?>", "<nsr>N</nsr>",
                                    "<rows>" + std::to_string(rows) + "</rows>"};
  if (random() % 8 == 0) lines[0] += "<data>";
  if (random() % 12 != 0) lines.push_back("<data>");
  const int pieces = static_cast<int>(random() % 40);
  for (int i = 0; i < pieces; ++i) {
    if (random() % 4 == 0) {
      for (const std::string& line : kFullRow) {
        if (random() % 12 != 0) lines.push_back(line);
      }
    } else {
      lines.push_back(kPieces[random() % kPieces.size()]);
    }
  }
  std::string document;
  for (const std::string& line : lines) document += line + (random() % 3 ? "\r\n" : "\n");
  return document;
}

std::int64_t LineCount(const std::string& text) {
  std::int64_t count = 0;
  for (std::size_t at = text.find("\r\n"); at != std::string::npos;
       at = text.find("\r\n", at + 1)) {
    ++count;
  }
  return count;
}

TEST_F(AgainstLibrary, RowTrackerFindsTheRowsTheLibraryReads) {
  std::mt19937 random(140);
  int outcomes[3] = {0, 0, 0};
  for (int i = 0; i < 600; ++i) {
    const int rows = static_cast<int>(random() % 6);
    const std::string content = RandomDocument(random, rows);
    const ContentFile file(content);
    std::int32_t rows_read = -1;
    char nsr[QUORVEL_BUFFER_SIZE];
    char reserved[QUORVEL_BUFFER_SIZE];
    const bool ok = library.xml2txt(file.path().c_str(), output.path().c_str(), 0, &rows_read, nsr,
                                    reserved) == QUORVEL_RESULT_OK;
    char message[QUORVEL_BUFFER_SIZE];
    library.get_last_error(message);

    // All blocks the tracker finds, and the incomplete ones among the first `rows`.
    std::int64_t blocks = 0;
    const File in = file.Open();
    ForEachLine(in.get(), [&, tracker = RowTracker()](std::string_view line, auto) mutable {
      blocks += tracker.Feed(line) ? 1 : 0;
      return true;
    });
    IncompleteRows incomplete;
    const File again = file.Open();
    ASSERT_TRUE(FindIncompleteRows(again.get(), rows, &incomplete));

    if (!ok && message[0] != '\0') {
      // No data line after the first line, or too few blocks.
      ++outcomes[0];
      const bool data_line = content.find("<data>", content.find('\n')) != std::string::npos;
      EXPECT_TRUE(!data_line || blocks < rows) << message << "\n" << content;
    } else if (!ok) {
      ++outcomes[1];
      EXPECT_GE(blocks, rows) << content;
      EXPECT_GT(incomplete.count, 0) << content;
    } else {
      ++outcomes[2];
      EXPECT_GE(blocks, rows) << content;
      EXPECT_EQ(incomplete.count, 0) << content;
      EXPECT_EQ(LineCount(ReadAll(output.path())), rows) << content;
    }
  }
  // Each outcome is met often enough to mean something.
  for (const int count : outcomes) EXPECT_GT(count, 50);
}

TEST(RowTracker, NamesBlocksAndTheirMissingValues) {
  RowTracker tracker;
  const std::vector<std::string> lines = {
      "<data>",                      // 1: the first line never counts as the data line
      "<data><row id=\"1\"></row>",  // 2: data line and opening line; its </row> does not close
      "<dm>1</dm><jg>0</jg>",        // 3
      "</row>",                      // 4: closes row 1
      "<rows>",                      // 5: opens a row without id
      "<dm>1</dm><hm>1</hm><gf>1</gf><xf>1</xf><kr>1</kr><je>1</je><se>1</se><mw>1</mw>",
      "<sy>1</sy><jg>1</jg><rq>1</rq><rq></rq></row>"};  // 7: closes, complete
  std::vector<RowBlock> closed;
  for (const std::string& line : lines) {
    if (tracker.Feed(line)) closed.push_back(tracker.block());
  }
  ASSERT_EQ(closed.size(), 2u);
  EXPECT_EQ(closed[0].Name(), "1");
  EXPECT_EQ(closed[0].first_line, 2);
  EXPECT_EQ(closed[0].last_line, 4);
  EXPECT_EQ(closed[0].Missing(), "hm, gf, xf, kr, je, se, mw, sy, rq");
  EXPECT_EQ(closed[1].Name(), "#2");
  EXPECT_EQ(closed[1].first_line, 5);
  EXPECT_TRUE(closed[1].complete());
}

TEST(Utf8, DecodesOnlyValidCharacters) {
  struct Case {
    std::string bytes;
    char32_t code;
    std::size_t size;
  };
  const std::vector<Case> cases = {
      {"A", 'A', 1},
      {"\xC2\x80", 0x80, 2},
      {"\xE4\xB8\xAD", 0x4E2D, 3},
      {"\xEF\xBB\xBF", 0xFEFF, 3},
      {"\xF0\x9F\x98\x80", 0x1F600, 4},
      {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4},
      {"", 0, 0},
      {"\x80", 0, 0},              // a continuation byte alone
      {"\xC0\x80", 0, 0},          // overlong
      {"\xE0\x80\x80", 0, 0},      // overlong
      {"\xF0\x80\x80\x80", 0, 0},  // overlong
      {"\xED\xA0\x80", 0, 0},      // a surrogate
      {"\xF4\x90\x80\x80", 0, 0},  // above U+10FFFF
      {"\xE4\xB8", 0, 0},          // cut short
      {"\xE4\x41\xAD", 0, 0},      // a continuation missing
      {"\xFF", 0, 0},
  };
  for (const Case& c : cases) {
    const Utf8Char got = DecodeUtf8(c.bytes);
    EXPECT_EQ(got.size, c.size) << c.bytes;
    if (c.size != 0) {
      EXPECT_EQ(got.code, c.code) << c.bytes;
    }
  }
  EXPECT_EQ(FindInvalidUtf8("ab\xE4\xB8\xAD"
                            "c\xE4\xB8"),
            6u);
  EXPECT_EQ(FindInvalidUtf8("ab\xE4\xB8\xAD"), std::string::npos);
  EXPECT_EQ(CountCharacters("a\xE4\xB8\xAD\xFF"
                            "b",
                            5),
            3u);
  EXPECT_EQ(OffsetOfCharacter("a\xE4\xB8\xAD\xFF"
                              "b",
                              3),
            5u);
  EXPECT_EQ(CodePointName(0x41), "U+0041");
  EXPECT_EQ(CodePointName(0x1F600), "U+1F600");
  EXPECT_TRUE(LooksUtf8("a\xE4\xB8\xAD"));
  EXPECT_FALSE(LooksUtf8("abc"));
  EXPECT_FALSE(LooksUtf8("\xD6\xD0"));  // GBK
}

struct Conversion {
  Charset from;
  Charset to;
  std::string in;
  std::string out;        // when it converts
  std::size_t bad;        // otherwise, npos for none
  std::string described;  // DescribeStop at `bad`
};

TEST(Converter, ConvertsExactlyOrStopsAtTheCharacter) {
  constexpr auto kNone = std::string::npos;
  const std::vector<Conversion> cases = {
      {Charset::kUtf8, Charset::kGbk, "", "", kNone, ""},
      {Charset::kUtf8, Charset::kGbk, "a\t\r\n", "a\t\r\n", kNone, ""},
      {Charset::kUtf8, Charset::kGbk, "\xE4\xB8\xAD\xE6\x96\x87", "\xD6\xD0\xCE\xC4", kNone, ""},
      {Charset::kUtf8, Charset::kGbk, "\xC2\xB7", "\xA1\xA4", kNone, ""},
      {Charset::kUtf8, Charset::kGbk, "\xE2\x82\xAC", "\x80", kNone, ""},
      {Charset::kUtf8, Charset::kGbk, "ab\xF0\x9F\x98\x80", "", 2, "U+1F600 has no GBK form"},
      // Windows pairs U+F8F5 with byte 0xFF, which is not GBK.
      {Charset::kUtf8, Charset::kGbk, "a\xEF\xA3\xB5", "", 1, "U+F8F5 has no GBK form"},
      // U+00E1 (a with acute) has a GBK form; U+00C0 (A with grave) has none, and no
      // best-fit "A" may stand in for it.
      {Charset::kUtf8, Charset::kGbk, "\xC3\xA1\xC3\x80", "", 2, "U+00C0 has no GBK form"},
      {Charset::kUtf8, Charset::kGbk, "a\xE4\xB8\xAD\xFF", "", 4, "invalid UTF-8 (byte 0xFF)"},
      {Charset::kUtf8, Charset::kGbk, "a\xE4\xB8", "", 1, "invalid UTF-8 (byte 0xE4)"},
      {Charset::kUtf8, Charset::kGbk, "\xED\xA0\x80", "", 0, "invalid UTF-8 (byte 0xED)"},
      {Charset::kGbk, Charset::kUtf8, "a\xD6\xD0\x80", "a\xE4\xB8\xAD\xE2\x82\xAC", kNone, ""},
      {Charset::kGbk, Charset::kUtf8, "ab\xFF", "", 2, "byte 0xFF is not GBK"},
      {Charset::kGbk, Charset::kUtf8, "\xD6\xD0\x81\x20", "", 2, "bytes 0x81 0x20 are not GBK"},
      {Charset::kGbk, Charset::kUtf8, "\xD6\xD0\xD6", "", 2, "byte 0xD6 is not GBK"},
  };
  for (const Conversion& c : cases) {
    Converter converter(c.from, c.to);
    ASSERT_TRUE(converter.ok());
    std::string out = "kept:";
    std::size_t bad = kNone;
    const bool ok = converter.Append(c.in, &out, &bad);
    EXPECT_EQ(ok, c.bad == kNone) << c.in;
    if (ok) {
      EXPECT_EQ(out, "kept:" + c.out) << c.in;
    } else {
      EXPECT_EQ(bad, c.bad) << c.in;
      EXPECT_EQ(DescribeStop(c.from, c.in, bad, "GBK form"), c.described) << c.in;
    }
  }
}

#ifndef _WIN32
// Natively file names are bytes: there is no converter for the ANSI code
// page, which stands here for a system without one.
TEST(Converter, WithoutAConverterOnlyEmptyTextSucceeds) {
  Converter none(Charset::kAnsi, Charset::kUtf8);
  ASSERT_FALSE(none.ok());
  std::string out = "kept";
  std::size_t bad = 9;
  EXPECT_TRUE(none.Append("", &out, &bad));
  EXPECT_EQ(out, "kept");
  EXPECT_FALSE(none.Append("a", &out, &bad));
  EXPECT_EQ(bad, 0u);
}
#endif

// Every GBK character, there and back: the system's tables agree with
// themselves, and the conversions never substitute. The count is each
// system's table exactly, so that a change to it shows: Windows' code page
// 936 maps every double-byte code, 2149 of them to private-use characters,
// which iconv's GBK refuses.
TEST(Converter, EveryGbkCharacterRoundTrips) {
  Converter to_utf8(Charset::kGbk, Charset::kUtf8);
  Converter to_gbk(Charset::kUtf8, Charset::kGbk);
  int characters = 0;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      const std::string gbk = {static_cast<char>(lead), static_cast<char>(trail)};
      std::string utf8;
      std::string back;
      std::size_t bad = 0;
      if (!to_utf8.Append(gbk, &utf8, &bad)) continue;
      ++characters;
      EXPECT_EQ(FindInvalidUtf8(utf8), std::string::npos);
      EXPECT_TRUE(to_gbk.Append(utf8, &back, &bad) && back == gbk)
          << std::hex << lead << " " << trail;
    }
  }
#ifdef _WIN32
  EXPECT_EQ(characters, 23940);  // 126 lead bytes, 190 trail bytes each
#else
  EXPECT_EQ(characters, 21791);
#endif
  // Of the single bytes above ASCII only 0x80, the euro sign, is a character.
  for (int byte = 0x80; byte <= 0xFF; ++byte) {
    std::string utf8;
    std::size_t bad = 0;
    EXPECT_EQ(to_utf8.Append(std::string(1, static_cast<char>(byte)), &utf8, &bad), byte == 0x80)
        << std::hex << byte;
  }
}

TEST(Options, ParsesWhatTheUsageAllows) {
  struct Case {
    std::vector<std::string> arguments;
    bool ok;
    std::vector<std::string> files;
  };
  const std::vector<Case> cases = {
      {{"txt2xml", "a", "b"}, true, {"a", "b"}},
      {{"txt2xml", "--strict", "a", "--type=102", "b", "--quiet"}, true, {"a", "b"}},
      {{"txt2xml", "a", "--", "--b"}, true, {"a", "--b"}},
      {{"txt2xml", "-", "-"}, true, {"-", "-"}},
      {{"xml2txt", "a", "b", "--encoding", "UTF-8"}, true, {"a", "b"}},
      {{"check", "--encoding=utf8", "f"}, true, {"f"}},
      {{"--help"}, true, {}},
      {{"-h"}, true, {}},
      {{"--version"}, true, {}},
      {{}, false, {}},
      {{"--help", "x"}, false, {}},
      {{"check", "a", "b"}, false, {}},
      {{"txt2xml", "a"}, false, {}},
      {{"xml2txt", "a", "b", "--strict"}, false, {}},
      {{"check", "f", "--nsr", "x"}, false, {}},
      {{"txt2xml", "a", "b", "--type"}, false, {}},
      {{"txt2xml", "a", "b", "--type", "2147483648"}, false, {}},
      {{"txt2xml", "a", "b", "--encoding", "latin1"}, false, {}},
      {{"txt2xml", "a", "b", "--strict=yes"}, false, {}},
      {{"frob"}, false, {}},
  };
  for (const Case& c : cases) {
    Request request;
    EXPECT_EQ(ParseRequest(c.arguments, &request), c.ok) << testing::PrintToString(c.arguments);
    if (c.ok) {
      EXPECT_EQ(request.files, c.files);
    }
  }
  Request request;
  ASSERT_TRUE(ParseRequest({"txt2xml", "a", "b", "--type", "-5", "--nsr", "n", "--qymc=q=r",
                            "--encoding", "gbk", "--nsr", "m"},
                           &request));
  EXPECT_EQ(request.type, -5);
  EXPECT_EQ(request.nsr, "m");  // the later one
  EXPECT_EQ(request.qymc, "q=r");
  EXPECT_TRUE(request.encoding_given);
  EXPECT_EQ(request.encoding, Charset::kGbk);
}

}  // namespace
}  // namespace quorvel::cli
