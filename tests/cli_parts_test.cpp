// The command-line host's own pieces: the character-set conversions, held to
// the system's converter there and back and to the places they name; the
// look at an input's head; the grammar. Runs natively and, as a Windows
// program, under Wine, where the conversions are Windows' own.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "charset/charset.h"
#include "charset/sniff.h"
#include "charset/transcode.h"
#include "charset/utf8.h"
#include "commands/options.h"
#include "present/failures.h"
#include "system/files.h"
#include "system/system.h"

namespace quorvel::cli {
namespace {

using namespace std::string_literals;

// A private file holding `content`, removed with the object.
class ContentFile {
 public:
  explicit ContentFile(std::string_view content) {
    std::string why;
    File file;
    EXPECT_TRUE(temp_.Create(&why, &file)) << why;
    EXPECT_EQ(std::fwrite(content.data(), 1, content.size(), file.get()), content.size());
  }
  File Open() { return temp_.Reader(); }

 private:
  TempFile temp_;
};

std::string ReadAll(File file) {
  std::string bytes;
  char buffer[4096];
  for (std::size_t got; file && (got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) {
    bytes.append(buffer, got);
  }
  return bytes;
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

struct TranscodeCase {
  Charset from;
  std::string in;
  std::string out;        // when it converts
  std::int64_t line = 0;  // otherwise where it stops
  std::size_t column = 0;
  std::string what;
};

void ExpectTranscodes(const TranscodeCase& c, std::size_t split) {
  ContentFile in(c.in.substr(split));
  TempFile out;
  std::string why;
  File target;
  ASSERT_TRUE(out.Create(&why, &target)) << why;
  EncodingStop stop;
  PassEnd end;
  {
    const File source = in.Open();
    const Charset to = c.from == Charset::kGbk ? Charset::kUtf8 : Charset::kGbk;
    end = Transcode(std::string_view(c.in).substr(0, split), source.get(), c.from, to, target.get(),
                    &stop);
    ASSERT_TRUE(CloseFile(std::move(target)));
  }
  const std::string shown = c.in.substr(0, 40) + " split at " + std::to_string(split);
  if (c.line == 0) {
    EXPECT_EQ(end.status, PassStatus::kOk) << shown;
    EXPECT_EQ(ReadAll(out.Reader()), c.out) << shown;
  } else {
    EXPECT_EQ(end.status, PassStatus::kNotConvertible) << shown;
    EXPECT_EQ(stop.line, c.line) << shown;
    EXPECT_EQ(stop.column, c.column) << shown;
    EXPECT_EQ(stop.what, c.what) << shown;
  }
}

TEST(Transcode, CopiesTheContentConvertedOrNamesWhereItStops) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::string emoji = "\xF0\x9F\x98\x80";
  // A CR that ends the first block read and its LF that begins the next.
  const std::string split = std::string(65535, 'a') + "\r\n" + emoji;
  const std::vector<TranscodeCase> cases = {
      {Charset::kUtf8, "", "", 0, 0, ""},
      {Charset::kUtf8, bom, "", 0, 0, ""},
      {Charset::kUtf8, bom + "\xE4\xB8\xAD\t1\r\n\r2\n3\t", "\xD6\xD0\t1\r\n\r2\n3\t", 0, 0, ""},
      // The NUL that ends the content is copied with the byte after it (a
      // copy's reader can tell that something follows), not converted.
      {Charset::kUtf8, "a\r\xE4\xB8\xAD\0"s + emoji, "a\r\xD6\xD0\0\xF0"s, 0, 0, ""},
      {Charset::kUtf8, "a\0"s, "a\0"s, 0, 0, ""},
      {Charset::kUtf8, "ok\n\xE4\xB8\xAD\xE6\x96\x87\tx" + emoji + "y\n", "", 2, 5,
       "U+1F600 has no GBK form"},
      {Charset::kUtf8, "abc\n\n\xE4\xB8\xAD\xFF\n", "", 3, 2, "invalid UTF-8 (byte 0xFF)"},
      {Charset::kUtf8, "a\r\n\r\nb" + emoji, "", 3, 2, "U+1F600 has no GBK form"},
      {Charset::kUtf8, "\n\r\nx\xC0\x80", "", 3, 2, "invalid UTF-8 (byte 0xC0)"},
      {Charset::kUtf8, split, "", 2, 1, "U+1F600 has no GBK form"},
      {Charset::kGbk, "\xD6\xD0\x80\r\n", "\xE4\xB8\xAD\xE2\x82\xAC\r\n", 0, 0, ""},
      {Charset::kGbk, "a\n\xD6\xD0\xFF", "", 2, 2, "byte 0xFF is not GBK"},
      // UTF-16: its mark dropped, its NUL bytes no end, its U+0000 the end.
      {Charset::kUtf16Le, "\xFF\xFE\x2D\x4E\t\0001\0\r\0\n\0"s, "\xD6\xD0\t1\r\n", 0, 0, ""},
      {Charset::kUtf16Be, "\xFE\xFF\x4E\x2D\0\t\0\n"s, "\xD6\xD0\t\n", 0, 0, ""},
      {Charset::kUtf16Le, "a\0\0\0b\0"s, "a\0b"s, 0, 0, ""},
      {Charset::kUtf16Le, "a\0\n\0\0\xD8x\0"s, "", 2, 1, "invalid UTF-16 (unit 0xD800)"},
      {Charset::kUtf16Le, "a\0\x3D\xD8\x00\xDE"s, "", 1, 2, "U+1F600 has no GBK form"},
      {Charset::kUtf16Le, "a\0b"s, "", 1, 2, "invalid UTF-16 (cut short)"},
  };
  // The head already read (a byte order mark at least), then the rest from
  // the file.
  for (const TranscodeCase& c : cases) {
    const std::size_t mark = std::min<std::size_t>(c.in.size(), 4);
    for (const std::size_t split : {mark, std::max(mark, c.in.size() / 2), c.in.size()}) {
      ExpectTranscodes(c, split);
    }
  }
}
TEST(Sniff, TellsADocumentAndUtf8FromTheHead) {
  struct Case {
    std::string head;
    bool cut;
    bool document;
    bool looks_utf8;
    std::optional<Charset> bom = std::nullopt;
  };
  const std::vector<Case> cases = {
      {"<?xml version", false, true, false},
      {"\xEF\xBB\xBF \r\n\t<nsr>", false, true, false, Charset::kUtf8},
      {"\xFF\xFE \0<\0"s, false, true, false, Charset::kUtf16Le},
      {"\xFE\xFF\0a\0<"s, false, false, false, Charset::kUtf16Be},
      {"a\t<b>", false, false, false},
      {"", false, false, false},
      {"\xE4\xB8\xAD\t1", false, false, true},
      {"\xD6\xD0\t1", false, false, false},          // GBK
      {"a\xE4\xB8\xAD\xE4\xB8", true, false, true},  // cut inside a character
      {"a\xE4\xB8\xAD\xE4\xB8", false, false, false},
      {"\xE4\xB8\xAD\0\xFF"s, false, false, true},  // nothing after a NUL counts
  };
  for (const Case& c : cases) {
    const Head head = LookAtHead(c.head, c.cut);
    EXPECT_EQ(head.document, c.document) << c.head;
    EXPECT_EQ(head.looks_utf8, c.looks_utf8) << c.head;
    EXPECT_EQ(head.bom, c.bom) << c.head;
  }
}

// A failure told by its kind, the file it concerns (as the user named it),
// the system's reason and, for a search that ran out, what was missing.
TEST(FailureText, NamesTheFileAndTheReason) {
  struct Case {
    MessageId kind;
    std::string message;
    std::string file;
    int system_error;
    Unfinished unfinished;
    std::string text;
  };
  const std::string enoent = SystemErrorText(ENOENT);
  const std::vector<Case> cases = {
      {MessageId::kCannotOpenFile, "Cannot open file /tmp/copy", "/tmp/copy", ENOENT,
       Unfinished::kNone, "in.txt: cannot open: " + enoent},
      {MessageId::kCannotCreateFile, "Cannot create file d/o.xml", "d/o.xml", 0, Unfinished::kNone,
       "d/o.xml: cannot create"},
      {MessageId::kStreamWriteError, "Stream write error", "", ENOSPC, Unfinished::kNone,
       "o.xml: cannot write: " + SystemErrorText(ENOSPC)},
      {MessageId::kNotValidInteger, "'\xD6\xD0' is not a valid integer value", "", 0,
       Unfinished::kNone, "in.txt: '\xE4\xB8\xAD' is not a valid integer value"},
      {MessageId::kListIndexOutOfBounds, "List index out of bounds (3)", "", 0, Unfinished::kNsr,
       "in.txt: no line holds an nsr value (<nsr>, not empty) (List index out of bounds (3))"},
      {MessageId::kListIndexOutOfBounds, "List index out of bounds (3)", "", 0, Unfinished::kRows,
       "in.txt: no line holds a rows value (<rows>, not empty) (List index out of bounds (3))"},
      {MessageId::kListIndexOutOfBounds, "List index out of bounds (1)", "", 0,
       Unfinished::kDataLine,
       "in.txt: no <data> line after the first line (List index out of bounds (1))"},
      {MessageId::kOutOfMemory, "", "", 0, Unfinished::kNone, "out of memory"},
  };
  Names names;
  names.Add("/tmp/copy", "in.txt");
  for (const Case& c : cases) {
    Outcome outcome;
    outcome.failed = true;
    outcome.kind = c.kind;
    outcome.message = c.message;
    outcome.file = c.file;
    outcome.system_error = c.system_error;
    outcome.unfinished = c.unfinished;
    EXPECT_EQ(FailureText(outcome, names, {"in.txt", "o.xml"}, true), c.text) << c.message;
  }
}

// GNU's grammar, and its words for what it refuses (the same from glibc's
// getopt_long and from mingw-w64's).
TEST(Options, ParsesWhatTheUsageAllows) {
  struct Case {
    std::vector<std::string> arguments;
    std::string error;  // empty: parsed
    std::vector<std::string> files;
  };
  const std::vector<Case> cases = {
      {{"txt2xml", "a", "b"}, "", {"a", "b"}},
      {{"txt2xml", "--strict", "a", "--type=102", "b", "-q"}, "", {"a", "b"}},
      {{"txt2xml", "a", "--", "--b"}, "", {"a", "--b"}},
      {{"txt2xml", "-", "-"}, "", {"-", "-"}},
      {{"xml2txt", "a", "b", "--enc", "UTF-8", "--strict"}, "", {"a", "b"}},
      {{"check", "--encoding=utf8", "f", "g", "--nsr", "x"}, "", {"f", "g"}},
      {{"check", "--allow-empty-rows", "--no-progress", "f"}, "", {"f"}},
      {{"--help"}, "", {}},
      {{"-h"}, "", {}},
      {{"-V"}, "", {}},
      {{"txt2xml", "a", "--version"}, "", {"a"}},
      {{}, "missing command", {}},
      {{"frob"}, "unknown command 'frob'", {}},
      {{"check"}, "check: missing FILE", {}},
      {{"txt2xml"}, "txt2xml: missing INPUT and OUTPUT", {}},
      {{"txt2xml", "a"}, "txt2xml: missing OUTPUT", {}},
      {{"xml2txt", "a", "b", "c"}, "xml2txt: extra operand 'c'", {}},
      {{"txt2xml", "a", "b", "--bogus"}, "unrecognized option '--bogus'", {}},
      {{"txt2xml", "a", "b", "--bogus=1"}, "unrecognized option '--bogus=1'", {}},
      {{"txt2xml", "a", "b", "-x"}, "invalid option -- 'x'", {}},
      {{"txt2xml", "a", "b", "--type"}, "option '--type' requires an argument", {}},
      {{"txt2xml", "a", "b", "--strict=yes"}, "option '--strict' doesn't allow an argument", {}},
      {{"txt2xml", "a", "b", "--type", "abc"}, "invalid argument 'abc' for '--type'", {}},
      {{"txt2xml", "a", "b", "--type", "2147483648"},
       "invalid argument '2147483648' for '--type'",
       {}},
      {{"txt2xml", "a", "b", "--encoding", "gb18030"},
       "invalid argument 'gb18030' for '--encoding'",
       {}},
      {{"txt2xml", "a", "b", "--date", "2026-02-29"},
       "invalid argument '2026-02-29' for '--date'",
       {}},
      {{"xml2txt", "a", "b", "--nsr", "x"}, "option '--nsr' does not apply to xml2txt", {}},
      {{"xml2txt", "a", "b", "--encoding", "utf-16"},
       "invalid argument 'utf-16' for '--encoding': xml2txt writes GBK or UTF-8",
       {}},
  };
  for (const Case& c : cases) {
    Request request;
    std::string error;
    EXPECT_EQ(ParseRequest(c.arguments, &request, &error), c.error.empty())
        << testing::PrintToString(c.arguments);
    EXPECT_EQ(error, c.error) << testing::PrintToString(c.arguments);
    if (c.error.empty()) {
      EXPECT_EQ(request.files, c.files);
    }
  }
  Request request;
  std::string error;
  ASSERT_TRUE(ParseRequest({"txt2xml", "a", "b", "--type", "-5", "--nsr", "n", "--qymc=q=r",
                            "--encoding", "utf-16", "--nsr", "m", "--date", "2028-02-29"},
                           &request, &error));
  EXPECT_EQ(request.type, -5);
  EXPECT_EQ(request.nsr, "m");  // the later one
  EXPECT_EQ(request.qymc, "q=r");
  EXPECT_TRUE(request.encoding_given);
  EXPECT_EQ(request.encoding, Charset::kUtf16Le);
  ASSERT_TRUE(request.date.has_value());
  EXPECT_EQ(request.date->year * 10000 + request.date->month * 100 + request.date->day, 20280229);
}

TEST(Options, ReadsDatesAndEpochs) {
  struct Case {
    std::string text;
    bool epoch;
    int yyyymmdd;  // 0: refused
  };
  const std::vector<Case> cases = {
      {"2026-12-07", false, 20261207},
      {"2000-02-29", false, 20000229},
      {"1900-02-29", false, 0},
      {"2026-13-01", false, 0},
      {"2026-1-01", false, 0},
      {"0000-01-01", false, 0},
      {"0", true, 19700101},
      {"951782400", true, 20000229},
      {"1798761599", true, 20261231},
      {"253402300799", true, 99991231},
      {"253402300800", true, 0},
      {"-1", true, 0},
      {"12x", true, 0},
      {"", true, 0},
  };
  for (const Case& c : cases) {
    Date date;
    const bool ok = c.epoch ? DateOfEpoch(c.text, &date) : ParseDate(c.text, &date);
    EXPECT_EQ(ok, c.yyyymmdd != 0) << c.text;
    if (ok) {
      EXPECT_EQ(date.year * 10000 + date.month * 100 + date.day, c.yyyymmdd) << c.text;
    }
  }
}

}  // namespace
}  // namespace quorvel::cli
