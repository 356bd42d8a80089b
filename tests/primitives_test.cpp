// The byte-string, line and number primitives at their edges.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "common/failure.h"
#include "common/sizes.h"
#include "convert/bounds.h"
#include "document/gbk_pairs.h"
#include "document/xml_bytes.h"
#include "support/files.h"
#include "support/line_list.h"
#include "support/message_of.h"
#include "support/text_reference.h"
#include "text/bytes.h"
#include "text/element_scan.h"
#include "text/lines.h"
#include "text/numbers.h"

namespace quorvel {
namespace {

using qtest::EscapeAngleBrackets;
using qtest::ExtractElementText;
using qtest::ExtractElementTexts;
using qtest::FindText;
using qtest::MessageOf;
using qtest::UnescapeAngleBrackets;

using namespace std::string_literals;

std::vector<std::string> AllFields(std::string_view line) {
  FieldList fields;
  const std::int32_t count = SplitTabFields(line, fields);
  std::vector<std::string> out;
  for (std::int32_t k = 0; k < count && k < FieldList::kKept; ++k) out.emplace_back(fields[k]);
  return out;
}

// Feeds `content` to scan(chunk, last) as a reader's window fills: a few
// more bytes at a time, what was taken dropped from the front, an LF that
// belongs to a taken CR skipped. scan returns its ChunkTaken.
template <typename Scan>
void FeedInPieces(const std::string& content, std::mt19937& random, Scan&& scan) {
  std::size_t begin = 0;
  std::size_t available = 0;
  bool skip_lf = false;
  for (;;) {
    if (skip_lf && begin < available) {
      if (content[begin] == '\n') ++begin;
      skip_lf = false;
    }
    const bool last = available == content.size();
    const ChunkTaken taken = scan(std::string_view(content).substr(begin, available - begin), last);
    begin += taken.bytes;
    skip_lf = taken.after_cr;
    if (last) return;
    available = std::min(content.size(), available + 1 + random() % 9);
  }
}

TEST(SplitTabFields, CountsAndKeepsFields) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"a\tb\tc", {"a", "b", "c"}},
      {"abc", {"abc"}},
      {"", {}},
      {"\tb", {"", "b"}},
      {"a\t", {"a"}},
      {"a\t\t", {"a", ""}},
      {"a\t\tc", {"a", "", "c"}},
      {"\t", {""}},
      // TAB acts as a CR: a following LF belongs to it, other breaks count.
      {"a\t\nb", {"a", "b"}},
      {"a\r\tb", {"a", "", "b"}},
      {"a\0\tb"s, {"a"}},
  };
  for (const auto& [line, fields] : cases) {
    FieldList list;
    EXPECT_EQ(SplitTabFields(line, list), static_cast<std::int32_t>(fields.size())) << line;
    EXPECT_EQ(AllFields(line), fields) << line;
  }
  // Nine TABs ending the line: ten fields of which the last is empty count 9;
  // one more TAB makes them ten again.
  FieldList list;
  EXPECT_EQ(SplitTabFields("1\t2\t3\t4\t5\t6\t7\t8\t9\t", list), 9);
  EXPECT_EQ(SplitTabFields("1\t2\t3\t4\t5\t6\t7\t8\t9\t\t", list), 10);
  EXPECT_EQ(list[9], "");
  // Far more fields than are kept: counted all the same.
  EXPECT_EQ(SplitTabFields(std::string(100000, '\t') + "x", list), 100001);
}

// The block-at-a-time split of plain lines, and the general walk it hands
// other lines to, both equal the rule applied step by step: every TAB a CR.
TEST(SplitTabFields, EqualsTheRuleOnLinesOfAnyLength) {
  auto plain = [](std::string_view line) {
    std::vector<std::string> fields;
    std::size_t i = 0;
    while (i < line.size() && line[i] != '\0') {
      std::size_t j = i;
      while (j < line.size() && line[j] != '\0' && line[j] != '\t' && line[j] != '\r' &&
             line[j] != '\n')
        ++j;
      fields.emplace_back(line.substr(i, j - i));
      i = j;
      if (i < line.size() && (line[i] == '\t' || line[i] == '\r')) ++i;
      if (i < line.size() && line[i] == '\n') ++i;
    }
    return fields;
  };
  std::mt19937 random(3);
  for (int round = 0; round < 5000; ++round) {
    std::string line(random() % 200, 'x');
    const bool odd = round % 4 == 0;  // now and then a CR, LF or NUL
    for (char& c : line) {
      const unsigned r = random() % 16;
      c = r < 3 ? '\t' : odd && r == 3 ? "\r\n"[random() % 3] : static_cast<char>('a' + r);
    }
    std::vector<std::string> expected = plain(line);
    FieldList list;
    ASSERT_EQ(SplitTabFields(line, list), static_cast<std::int32_t>(expected.size())) << line;
    if (expected.size() > FieldList::kKept) expected.resize(FieldList::kKept);
    ASSERT_EQ(AllFields(line), expected) << line;
  }
}

// Records walked a chunk at a time, fed in pieces as a reader's window
// fills, split exactly as SplitTabFields splits each line alone.
TEST(SplitTabFields, RecordsOfAChunkSplitAsLinesAlone) {
  std::mt19937 random(9);
  const std::vector<std::string> pieces = {"\t", "\r", "\n", "\r\n", "a", "bc", "\xC4\xCF", " "};
  for (int round = 0; round < 3000; ++round) {
    std::string content;
    const int length = static_cast<int>(random() % 60);
    for (int k = 0; k < length; ++k) content += pieces[random() % pieces.size()];
    auto describe = [](const FieldList& fields) {
      std::string out = std::to_string(fields.count());
      for (std::int32_t k = 0; k < fields.count() && k < FieldList::kKept; ++k) {
        out.append("|").append(fields[k]);
      }
      return out;
    };
    std::vector<std::string> expected;
    for (qtest::LineCursor c(content); !c.AtEnd(); c.Advance()) {
      FieldList fields;
      SplitTabFields(c.line(), fields);
      expected.push_back(describe(fields) + "|" + std::string(c.line()));
    }
    std::vector<std::string> got;
    FeedInPieces(content, random, [&](std::string_view chunk, bool last) {
      FieldList fields;
      return ScanRecords(chunk, last, fields, [&](const FieldList& record, std::string_view line) {
        got.push_back(describe(record) + "|" + std::string(line));
        return true;
      });
    });
    ASSERT_EQ(got, expected) << testing::PrintToString(content);
  }
}

// A 32-bit build walks 32-byte blocks: both block widths give the same marks
// and line ends at every position, across block and chunk edges.
TEST(WalkLines, BothBlockWidthsWalkAlike) {
  std::mt19937 random(11);
  const std::string bytes = "\t\r\na";
  for (int round = 0; round < 4000; ++round) {
    std::string chunk(random() % 200, 'a');
    for (char& c : chunk) c = bytes[random() % bytes.size()];
    const bool last = random() % 2 == 0;
    auto walk = [&](auto width) {
      std::vector<std::size_t> events;
      const ChunkTaken taken = WalkLines<decltype(width)>(
          chunk, last, '\t', [&](std::size_t at) { events.push_back(at); },
          [&](std::size_t stop, std::size_t next) {
            events.insert(events.end(), {1000 + stop, 1000 + next});
            return events.size() < 150;
          });
      events.insert(events.end(), {taken.bytes, taken.lines, taken.after_cr, taken.stopped});
      return events;
    };
    ASSERT_EQ(walk(std::uint32_t{}), walk(std::uint64_t{})) << testing::PrintToString(chunk);
  }
}

// The counting pass takes what the line rule takes, CR LF pairs falling
// across its steps of sixty-four and sixteen bytes included.
TEST(CountWholeLines, CountsAsTheLineRule) {
  std::mt19937 random(13);
  const std::string bytes = "\r\n\r\na\t";
  for (int round = 0; round < 4000; ++round) {
    std::string chunk(random() % 700, 'a');
    for (char& c : chunk) c = random() % 4 == 0 ? bytes[random() % bytes.size()] : 'x';
    const bool last = random() % 2 == 0;
    std::size_t whole = chunk.size();
    while (whole > 0 && chunk[whole - 1] != '\r' && chunk[whole - 1] != '\n') --whole;
    std::size_t lines = 0;
    for (std::size_t i = 0; i < whole; ++i) {
      lines += chunk[i] == '\r' || (chunk[i] == '\n' && (i == 0 || chunk[i - 1] != '\r'));
    }
    const bool tail = last && whole < chunk.size();
    const bool after_cr = !tail && whole == chunk.size() && whole > 0 && chunk.back() == '\r';
    const ChunkTaken got = CountWholeLines(chunk, last);
    ASSERT_EQ(std::make_tuple(got.bytes, got.lines, got.after_cr),
              std::make_tuple(tail ? chunk.size() : whole, lines + tail, after_cr))
        << testing::PrintToString(chunk);
  }
}

TEST(FindAndCopyText, Positions) {
  EXPECT_EQ(FindText("b", "abcb"), 2u);
  EXPECT_EQ(FindText("", "abc"), 0u);
  EXPECT_EQ(FindText("abcd", "abc"), 0u);
  EXPECT_EQ(FindText("x", ""), 0u);
  EXPECT_EQ(FindText("abc", "abc"), 1u);
  struct Case {
    std::string text;
    std::int64_t start, count;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"20240131", 1, 4, "2024"}, {"20240131", 5, 2, "01"},
      {"20240131", 7, 2, "31"},   {"202401", 7, 2, ""},
      {"2024013", 7, 2, "3"},     {"abc", 0, 2, "ab"},
      {"abc", -5, 1, "a"},        {"abc", 4, 1, ""},
      {"abc", 1, -1, ""},         {"", 1, 1, ""},
      {"abc", 2, 100, "bc"},      {"abc", 1, 0, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CopyText(c.text, c.start, c.count), c.expected) << c.text << " " << c.start;
  }
}

TEST(AngleBrackets, EscapeAndUnescape) {
  const std::vector<std::pair<std::string, std::string>> escapes = {
      {"a<b>c", "a&lt;b&gt;c"},     {"a&b", "a&b"},         {"&gt;", "&gt;"},
      {">>", "&gt;&gt;"},           {"<q>&", "&lt;q&gt;&"}, {"", ""},
      {"x<y>z&w", "x&lt;y&gt;z&w"},
  };
  for (const auto& [in, out] : escapes) EXPECT_EQ(EscapeAngleBrackets(in), out);
  const std::vector<std::pair<std::string, std::string>> unescapes = {
      {"a&lt;b&gt;c", "a<b>c"},
      {"&&gt;gt;", "&>gt;"},
      {"&amp;lt;", "&amp;lt;"},
      {"&GT;", "&GT;"},
      {"&lt", "&lt"},
      {"&lt;&lt;&gt", "<<&gt"},
      {"&quot;&#60;", "&quot;&#60;"},
  };
  for (const auto& [in, out] : unescapes) EXPECT_EQ(UnescapeAngleBrackets(in), out);
  // A million "<" in linear time (a quadratic escape would not finish).
  const std::string many(1 << 20, '<');
  const std::string escaped = EscapeAngleBrackets(many);
  EXPECT_EQ(escaped.size(), many.size() * 4);
  EXPECT_EQ(UnescapeAngleBrackets(escaped), many);
  // Long texts are unescaped a piece at a time: entities across every
  // possible piece boundary.
  for (std::size_t shift = 0; shift < 8; ++shift) {
    EXPECT_EQ(UnescapeAngleBrackets(std::string(shift, '&') + escaped.substr(0, 40000)),
              std::string(shift, '&') + many.substr(0, 10000))
        << shift;
  }
}

// Every implementation of escaping (SSE2, SSSE3 where the processor has it)
// equals the plain replacement at every length around the sixteen-byte
// blocks, brackets dense or sparse, and writes nothing past its room of four
// bytes a byte plus the slack.
TEST(AngleBrackets, EscapeEqualsThePlainReplacement) {
  using Escape = char* (*)(std::string_view, char*);
  const std::pair<const char*, Escape> implementations[] = {
      {"sse2", document::escape::WithSse2},
      {"ssse3", document::escape::WithSsse3},
      {"chosen", document::EscapeAngleBracketsInto},
  };
  std::mt19937 random(3);
  for (int round = 0; round < 6000; ++round) {
    const std::string alphabet = round % 2 == 0 ? "<>a&" : "abcdefgh<";
    std::string text(random() % 90, 'a');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    std::string expected;
    for (const char c : text) expected += c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    const std::size_t room = 4 * text.size() + document::kEscapeSlack;
    for (const auto& [name, escape] : implementations) {
      std::string out(room + 32, '\x5A');
      const char* end = escape(text, out.data());
      ASSERT_EQ(std::string_view(out.data(), static_cast<std::size_t>(end - out.data())), expected)
          << name << ": " << text;
      ASSERT_EQ(out.substr(room), std::string(32, '\x5A')) << name << ": " << text;
    }
  }
}

// Every implementation of unescaping (portable, SSE2, SSSE3, each where the
// processor has it) equals the plain left-to-right replacement, on texts
// dense with entities and near-entities, of every length up to a few blocks
// and every alignment of an entity against the sixteen-byte blocks.
TEST(AngleBrackets, UnescapeEqualsThePlainReplacement) {
  auto plain = [](std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
      if (text.substr(i, 4) == "&lt;" || text.substr(i, 4) == "&gt;") {
        out += text[i + 1] == 'l' ? '<' : '>';
        i += 4;
      } else {
        out += text[i++];
      }
    }
    return out;
  };
  using Unescape = char* (*)(std::string_view, char*);
  const std::pair<const char*, Unescape> implementations[] = {
      {"portable", document::unescape::Portable},
      {"sse2", document::unescape::WithSse2},
      {"ssse3", document::unescape::WithSsse3},
      {"chosen", document::UnescapeAngleBracketsInto},
  };
  auto check = [&](const std::string& text) {
    const std::string expected = plain(text);
    for (const auto& [name, unescape] : implementations) {
      std::string out(text.size() + document::kUnescapeSlack, '\x5A');
      const char* end = unescape(text, out.data());
      ASSERT_EQ(std::string_view(out.data(), static_cast<std::size_t>(end - out.data())), expected)
          << name << ": " << text;
    }
  };
  const std::vector<std::string> pieces = {"&lt;", "&gt;", "&", "lt;",  "gt;",   "l",
                                           "t",    ";",    "x", "\xC4", "&amp;", "0123456789abcdef",
                                           "&lt",  "&g"};
  std::mt19937 random(5);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 40);
    for (int k = 0; k < length; ++k) text += pieces[random() % pieces.size()];
    check(text);
  }
  for (std::size_t offset = 0; offset < 40; ++offset) {
    check(std::string(offset, 'x') + "&lt;" + std::string(40, 'y') + "&gt;");
    check(std::string(offset, 'x') + "&lt");
  }
}

// What makes a value unfit for the document, each rule at its edges.
TEST(AngleBrackets, FirstUnfitNamesWhatXmlParsersRefuse) {
  using document::Unfit;
  using document::Written;
  struct Case {
    std::string value;
    Written written;
    std::size_t at;
    Unfit why;
  };
  constexpr std::size_t kNone = std::string_view::npos;
  const std::vector<Case> cases = {
      {"a\tb>c\x7F]]", Written::kRaw, kNone, Unfit::kNone},
      {"x&y", Written::kEscaped, 1, Unfit::kByte},
      {"x<y", Written::kRaw, 1, Unfit::kByte},
      {"x<y>]]>", Written::kEscaped, kNone, Unfit::kNone},  // written as entities
      {"a\x1B", Written::kRaw, 1, Unfit::kByte},
      {"a\rb", Written::kRaw, 1, Unfit::kLineBreak},
      {"a\nb", Written::kEscaped, 1, Unfit::kLineBreak},
      {"a]]]>", Written::kRaw, 2, Unfit::kCdataEnd},
      {"]] >]>", Written::kRaw, kNone, Unfit::kNone},
      {"\x81]]>", Written::kRaw, kNone, Unfit::kNone},  // the first "]" ends a character
      {"\xD6\xD0\x81\x40\xFE\x4F\x81\x7E\x81\x80", Written::kRaw, kNone, Unfit::kNone},
      // GBK's shape with no character: the lead byte is named.
      {"\xD7\xF9\xD7\xFA", Written::kRaw, 2, Unfit::kNotGbk},
      {"a\xA1\xA0", Written::kRaw, 1, Unfit::kNotGbk},
      {"\xA2\xA0", Written::kRaw, 0, Unfit::kNotGbk},
      {"\xAA\xA1", Written::kRaw, 0, Unfit::kNotGbk},
      {"\xA3\xA0", Written::kEscaped, 0, Unfit::kNotGbk},
      {"\xA1\x40", Written::kRaw, 0, Unfit::kNotGbk},
      {"\xFE\xFE", Written::kRaw, 0, Unfit::kNotGbk},
      {"\xFE\x50", Written::kRaw, 0, Unfit::kNotGbk},
      {"a\x80", Written::kRaw, 1, Unfit::kNotGbk},
      {"a\xFF\x40", Written::kRaw, 1, Unfit::kNotGbk},
      {"\xD6\xD0\xD6", Written::kRaw, 2, Unfit::kNotGbk},  // a lead byte at the end
      {"\xD6\t", Written::kRaw, 0, Unfit::kNotGbk},
      {"\xD6\x7F", Written::kRaw, 0, Unfit::kNotGbk},
      {"\xD6\xFF", Written::kRaw, 0, Unfit::kNotGbk},
      {"\xD6\x3F", Written::kEscaped, 0, Unfit::kNotGbk},
      {"ab&\x80", Written::kRaw, 2, Unfit::kByte},  // the first one found
  };
  for (const Case& c : cases) {
    const document::UnfitAt found = document::FirstUnfit(c.value, c.written);
    EXPECT_EQ(found.at, c.at) << testing::PrintToString(c.value);
    EXPECT_EQ(found.why, c.why) << testing::PrintToString(c.value);
  }
}

// The first unfit place is the one the plain rule finds a character at a
// time, at every position of every length around the sixteen-byte steps,
// for every byte value, written raw and escaped, among characters that are
// never unfit.
TEST(AngleBrackets, FirstUnfitIsThePlainRule) {
  using document::Unfit;
  using document::Written;
  auto plain = [](std::string_view v, Written written) -> document::UnfitAt {
    const bool raw = written == Written::kRaw;
    for (std::size_t i = 0; i < v.size(); ++i) {
      const auto c = static_cast<unsigned char>(v[i]);
      if (c >= 0x80) {
        const auto t = i + 1 < v.size() ? static_cast<unsigned char>(v[i + 1]) : 0;
        if (i + 1 == v.size() || !document::IsGbkPair(c, t)) return {i, Unfit::kNotGbk};
        ++i;
      } else if (c == '\n' || c == '\r') {
        return {i, Unfit::kLineBreak};
      } else if ((c < 0x20 && c != '\t') || c == '&' || (c == '<' && raw)) {
        return {i, Unfit::kByte};
      } else if (raw && v.substr(i, 3) == "]]>") {
        return {i, Unfit::kCdataEnd};
      }
    }
    return {};
  };
  for (const Written written : {Written::kRaw, Written::kEscaped}) {
    for (std::size_t size = 0; size <= 40; ++size) {
      const std::string clean = std::string("a\t>]\xC4\xE3]<\x7F]") + std::string(40, 'z');
      std::string text = clean.substr(0, size);
      if (written == Written::kRaw) std::replace(text.begin(), text.end(), '<', 'y');
      if (!text.empty() && text.back() == '\xC4') text.back() = 'z';
      EXPECT_EQ(document::FirstUnfit(text, written).why, Unfit::kNone) << size;
      for (std::size_t at = 0; at < size; ++at) {
        // A later "&" is not the first.
        std::string probe = text;
        if (at + 1 < size) probe[size - 1] = '&';
        for (int byte = 0; byte < 256; ++byte) {
          probe[at] = static_cast<char>(byte);
          const document::UnfitAt expected = plain(probe, written);
          const document::UnfitAt found = document::FirstUnfit(probe, written);
          ASSERT_EQ(found.at, expected.at) << size << " " << at << " " << byte;
          ASSERT_EQ(found.why, expected.why) << size << " " << at << " " << byte;
        }
      }
    }
  }
}

// The GBK rule is iconv's GBK table (through which XML parsers read the
// document), for every byte alone and every lead 0x81-0xFE with every trail
// 0x40-0xFE: iconv -c drops what it cannot decode, so a code on a line of its
// own comes back non-ASCII exactly when it is a character. 0x80 alone, the
// euro sign of code page 936, is the one byte iconv takes that the rule
// refuses: GB18030 has no such byte.
class GbkRule : public qtest::ScratchDirTest {
 protected:
  static int Run(const std::string& command) {
#ifdef _WIN32
    return qtest::RunUnix(command);
#else
    return std::system(command.c_str());
#endif
  }
  static bool NotGbk(std::string_view value) {
    return document::FirstUnfit(value, document::Written::kRaw).why == document::Unfit::kNotGbk;
  }
};

TEST_F(GbkRule, IsIconvsTable) {
  std::vector<std::string> cells;
  std::string lines;
  for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
      cells.push_back({static_cast<char>(lead), static_cast<char>(trail)});
      lines.append(cells.back()).push_back('\n');
    }
  }
  ASSERT_EQ(cells.size(), 24066u);
  qtest::WriteFile("cells", lines);
  Run("iconv -c -f GBK -t UTF-8 cells > decoded");
  const std::string decoded = qtest::ReadFile("decoded");
  ASSERT_EQ(static_cast<std::size_t>(std::count(decoded.begin(), decoded.end(), '\n')), cells.size());
  std::size_t from = 0;
  int differences = 0;
  for (const std::string& cell : cells) {
    const std::size_t end = decoded.find('\n', from);
    const std::string_view line = std::string_view(decoded).substr(from, end - from);
    from = end + 1;
    const bool character = std::any_of(line.begin(), line.end(), [](char c) { return c & 0x80; });
    if (character == NotGbk(cell) && ++differences <= 10) {
      ADD_FAILURE() << testing::PrintToString(cell) << (character ? " is" : " is not")
                    << " a character to iconv";
    }
  }
  EXPECT_EQ(differences, 0);
  for (unsigned byte = 0; byte < 256; ++byte) {
    qtest::WriteFile("byte" + std::to_string(byte), std::string(1, static_cast<char>(byte)));
  }
  Run("for b in $(seq 0 255); do iconv -f GBK -t UTF-8 byte$b >/dev/null 2>&1 && echo $b; done > taken");
  std::array<bool, 256> taken{};
  const std::string listed = qtest::ReadFile("taken");
  for (std::size_t at = 0; at < listed.size();) {
    const std::size_t end = listed.find('\n', at);
    if (end == std::string::npos) break;
    unsigned byte = 256;
    std::from_chars(listed.data() + at, listed.data() + end, byte);
    if (byte < 256) taken[byte] = true;
    at = end + 1;
  }
  for (unsigned byte = 0; byte < 256; ++byte) {
    const bool character = taken[byte];
    EXPECT_EQ(character, !NotGbk(std::string(1, static_cast<char>(byte))) || byte == 0x80) << byte;
  }
}

TEST(ExtractElementText, Edges) {
  const std::vector<std::pair<std::string, std::string>> dm = {
      {"   <dm>  123 </dm>", "123"},
      {"<dm></dm>", ""},
      {"<dm>\t</dm>", ""},
      {"<dm>x", ""},
      {"</dm><dm>x</dm>", ""},
      {"<DM>x</DM>", ""},
      {"<dm>1</dm><dm>2</dm>", "1"},
      {"<dm>\xC4\xCF\xBE\xA9</dm>", "\xC4\xCF\xBE\xA9"},
      {"<dm>\x01 a b\r\n</dm>", "a b"},
      {"<dm x=\"1\">v</dm>", ""},
      {"<dm></dm>v</dm>", ""},
      {"<<dm>>v<</dm>>", ">v<"},
  };
  for (const auto& [line, value] : dm) EXPECT_EQ(ExtractElementText(line, "dm"), value) << line;
  EXPECT_EQ(ExtractElementText("<row id=\"1\">", "row"), "");
  EXPECT_EQ(ExtractElementText("  <rows>5</rows>", "row"), "");
  EXPECT_EQ(ExtractElementText("  <rows>5</rows>", "rows"), "5");
}

// The one-pass scan must equal the plain definition on every line: checked on
// many generated lines made of tags, near-tags, blanks and GBK bytes.
TEST(ExtractElementTexts, EqualsThePlainDefinition) {
  const std::array<std::string_view, 11> names = {"dm", "hm", "gf", "xf", "kr", "je",
                                                  "se", "mw", "sy", "jg", "rq"};
  const std::vector<std::string> pieces = {
      "<dm>", "</dm>", "<sy>", "</sy>", "<rq>", "</rq>", "<mw>", "</mw>", "<",   ">",  "</", "/",
      "d",    "m",     " ",    "\t",    "x",    "\xC4",  "<d",   "m>",    "<jg", "g>", "</j"};
  std::mt19937 random(20261207);
  for (int round = 0; round < 20000; ++round) {
    std::string line;
    const int length = static_cast<int>(random() % 12);
    for (int k = 0; k < length; ++k) line += pieces[random() % pieces.size()];
    std::array<std::string_view, 11> fast;
    ExtractElementTexts(line, names, fast);
    for (std::size_t k = 0; k < names.size(); ++k) {
      ASSERT_EQ(fast[k], ExtractElementText(line, names[k])) << line << " " << names[k];
    }
  }
}

// Scanning many lines in one pass, fed in pieces as a reader's window fills,
// must give for every line exactly what the line-by-line scan gives: values,
// markers, the lines themselves and their number.
TEST(ElementScanner, ScanLinesEqualsTheLineByLineScan) {
  const std::array<std::string_view, 12> names = {"dm", "hm", "gf", "xf", "kr", "je",
                                                  "se", "mw", "sy", "jg", "rq", "nsrlonger"};
  // "<hm>" as a marker too, so that a marker can stand where a tag does.
  const std::array<std::string_view, 3> markers = {"<row", "</row>", "<hm>"};
  const ElementScanner scanner(names, markers);
  const std::vector<std::string> pieces = {
      "<dm>", "</dm>", "<sy>", "</sy>", "<mw>", "</mw>", "<row", "</row>", "<row id=\"1\">",
      "<nsrlonger>", "</nsrlonger>", "<", "</", ">", " ", "\t", "v", "\xC4", "\r", "\n", "\r\n",
      // Whole lines a row block is made of, and ones that only look like them, in any order:
      // a line holding one element is told apart from its two "<" alone.
      "   <dm>5873701742</dm>\r\n", "   <sy>00DC</sy>\r\n", "   <mw>4*9&gt;+-&lt;5</mw>\r\n",
      "   <sy> A1 \x01</sy>\n", "<mw></mw>\r", "  <mw>\t</mw>\r\n", "   <sy>1</sy>x\r\n",
      "   <sy>1</sy \r\n", "   <sy>1</mw>\r\n", "   <mw>1</dm>\r\n", "   <sy>1</sy></mw>\r\n",
      "   <sy>1</dm><dm>\r\n", "   <sy>1<sy>2</sy>\r\n", "   <sy1>2</sy1>\r\n", "   <hm>1</hm>\r\n",
      "   <nsrlonger>9</nsrlonger>\r\n", "  <row id=\"1\">\r\n", "  </row>\r\n"};
  std::mt19937 random(11);
  for (int round = 0; round < 3000; ++round) {
    std::string content;
    const int length = static_cast<int>(random() % 40);
    for (int k = 0; k < length; ++k) content += pieces[random() % pieces.size()];
    // Line by line.
    std::vector<std::string> expected;
    for (qtest::LineCursor c(content); !c.AtEnd(); c.Advance()) {
      std::string row(c.line());
      for (const std::string_view name : names) {
        const std::string value(ExtractElementText(c.line(), name));
        row.append(value.empty() ? "|" : "|=" + value);
      }
      for (const std::string_view marker : markers) {
        row.append(c.line().find(marker) != std::string_view::npos ? "|+" : "|-");
      }
      expected.push_back(row);
    }
    // In pieces: what is taken is dropped, more is added, as a reader does;
    // and whole, as most lines are scanned, after the lines before them.
    std::vector<std::string> got;
    auto scan = [&](std::string_view chunk, bool last) {
      const std::size_t before = got.size();
      std::array<std::string_view, 12> values;
      const ChunkTaken taken = scanner.ScanLines(
          chunk, last, values, [&](std::string_view line, const ElementScanner::LineFound& found) {
            std::string row(line);
            for (std::size_t k = 0; k < names.size(); ++k) {
              row.append((found.present >> k) & 1 ? "|=" + std::string(values[k]) : "|");
            }
            for (std::size_t j = 0; j < markers.size(); ++j) {
              row.append((found.markers >> j) & 1 ? "|+" : "|-");
            }
            // A line's one value, when given as `only`, is the view `present` tells.
            if (!found.only.empty()) {
              const bool one = std::has_single_bit(found.present);
              const std::string_view value = one ? values[std::countr_zero(found.present)] : "";
              if (value.data() != found.only.data() || value.size() != found.only.size()) {
                row.append("|only?");
              }
            }
            got.push_back(row);
            return true;
          });
      EXPECT_EQ(taken.lines, got.size() - before);
      return taken;
    };
    FeedInPieces(content, random, scan);
    ASSERT_EQ(got, expected) << testing::PrintToString(content);
    got.clear();
    scan(content, true);
    ASSERT_EQ(got, expected) << testing::PrintToString(content);
  }
}

TEST(CallerBuffer, CopiesAtMost255BytesAndANul) {
  for (const std::size_t size : {0u, 1u, 254u, 255u, 256u, 300u}) {
    const std::string text(size, 't');
    std::array<char, 300> buffer;
    buffer.fill('\x5A');
    CopyToCallerBuffer(text, buffer.data());
    const std::size_t n = size < 255 ? size : 255;
    std::array<char, 300> expected;
    expected.fill('\x5A');
    std::fill_n(expected.begin(), n, 't');
    expected[n] = '\0';
    EXPECT_EQ(buffer, expected) << size;
  }
}

TEST(ParseInt32, AcceptedAndRejectedForms) {
  const std::vector<std::pair<std::string, std::int32_t>> accepted = {
      {"12", 12},
      {" 12", 12},
      {"+7", 7},
      {"-2147483648", INT32_MIN},
      {"2147483647", INT32_MAX},
      {"$10", 16},
      {"x10", 16},
      {"X10", 16},
      {"0x10", 16},
      {"0X10", 16},
      {"0", 0},
      {"00", 0},
      {"$FFFFFFFF", -1},
      {"$0000000080000000", INT32_MIN},
      {"-0", 0},
      {"007", 7},
      {"$aB", 171},
      {"+2147483647", INT32_MAX},
  };
  for (const auto& [text, value] : accepted) EXPECT_EQ(ParseInt32(text), value) << text;
  for (const std::string text :
       {"12 ", "2147483648", "+2147483648", "-2147483649", "-$10", "-", "$", "0x", "1e3", "", " ",
        "\t1", "$100000000", "+-1", "0x-1", "1\xC4"}) {
    EXPECT_EQ(MessageOf([&] { ParseInt32(text); }), "'" + text + "' is not a valid integer value");
  }
}

TEST(ParseInt64, AcceptedAndRejectedForms) {
  const std::vector<std::pair<std::string, std::int64_t>> accepted = {
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"$FF", 255},
      {"$ff", 255},
      {"$00000000000000FF", 255},
      {"-$10", -16},
      {" 5", 5},
      {"+0x1f", 31},
      {"$FFFFFFFFFFFFFFFF", -1},
      {"$8000000000000000", INT64_MIN},
      {"$0FFFFFFFFFFFFFFFF", -1},
      {"-$8000000000000000", INT64_MIN},
      {"000000000000000000000000012", 12},
      {"1234567890123456789", 1234567890123456789},
      {"0000000009223372036854775807", INT64_MAX},
      {"-12345678", -12345678},
      {"87654321", 87654321},
  };
  for (const auto& [text, value] : accepted) EXPECT_EQ(ParseInt64(text), value) << text;
  for (const std::string text :
       {"9223372036854775808", "-9223372036854775809", "$", "$ 5", "$-5", "$0x1F", "x10",
        "$1FFFFFFFFFFFFFFFF", "", "5 ", "--1", "0x", "$G", "10000000000000000000",
        "99999999999999999999", "1234567:", "/2345678", "123456789012345678a",
        "12345\xB6"
        "78"}) {
    EXPECT_EQ(MessageOf([&] { ParseInt64(text); }), "'" + text + "' is not a valid integer value");
  }
}

// The plain rule for a run of hexadecimal digits: every byte a digit of
// either case, at most `most` after the leading zeros, read digit by digit.
std::optional<std::uint64_t> PlainHex(std::string_view digits, std::size_t most) {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  std::size_t significant = 0;
  for (const char c : digits) {
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) return std::nullopt;
    if (significant > 0 || d != 0) ++significant;
    value = value << 4 | static_cast<std::uint64_t>(d);
  }
  if (significant > most) return std::nullopt;
  return value;
}

// Every digit count, with leading zeros in eights and not, every byte in
// every place of each: the same as the plain rule, for 64 and for 32 bits,
// and HexToDecimal the same as reading and formatting in turn.
// Each text sits alone in a buffer of its own size, so that a read past it
// shows under the address sanitizer.
TEST(ParseHex, EqualsThePlainRule) {
  std::mt19937 random(11);
  const std::string_view digits = "0123456789abcdefABCDEF";
  const auto check = [](const std::string& text) {
    const std::vector<char> alone(text.begin(), text.end());
    const std::string_view view(alone.data(), alone.size());
    const auto expected64 = PlainHex(view, 16);
    std::int64_t value = 5;
    ASSERT_EQ(TryParseHex64(view, value), expected64.has_value()) << text;
    EXPECT_EQ(static_cast<std::uint64_t>(value), expected64.value_or(5)) << text;
    NumberText decimal = FormatDecimal(5);
    ASSERT_EQ(HexToDecimal(view, decimal), expected64.has_value()) << text;
    EXPECT_EQ(decimal.view(), FormatDecimal(value).view()) << text;
    if (text.size() > 12) return;
    const auto expected32 = PlainHex(view, 8);
    if (expected32) {
      EXPECT_EQ(ParseInt32("$" + text), static_cast<std::int32_t>(*expected32)) << text;
    } else {
      EXPECT_EQ(MessageOf([&] { ParseInt32("$" + text); }),
                "'$" + text + "' is not a valid integer value");
    }
  };
  for (std::size_t count = 1; count <= 26; ++count) {
    for (const std::size_t zeros : {0, 1, 7, 8, 9, 16, 17, 26}) {
      if (zeros > count) continue;
      std::string text(zeros, '0');
      while (text.size() < count) text += digits[random() % digits.size()];
      check(text);
      if (zeros != 0 && zeros != 8) continue;
      for (std::size_t at = 0; at < count; ++at) {
        for (int byte = 0; byte < 256; ++byte) {
          std::string changed = text;
          changed[at] = static_cast<char>(byte);
          check(changed);
        }
      }
    }
  }
  for (const std::string edge : {"7FFFFFFFFFFFFFFF", "8000000000000000", "FFFFFFFFFFFFFFFF",
                                 "ffffffffffffffff", "0000000000000000", "10000000000000000",
                                 "00000000000000000000000001", "7FFFFFFF", "80000000"}) {
    check(edge);
  }
}

TEST(FormatNumbers, HexAndDecimal) {
  EXPECT_EQ(FormatHex64(255, 16).view(), "00000000000000FF");
  EXPECT_EQ(FormatHex64(0, 16).view(), "0000000000000000");
  EXPECT_EQ(FormatHex64(-1, 16).view(), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(FormatHex64(-16, 16).view(), "FFFFFFFFFFFFFFF0");
  EXPECT_EQ(FormatHex64(INT64_MIN, 16).view(), "8000000000000000");
  EXPECT_EQ(FormatHex64(0xABC, 1).view(), "ABC");
  EXPECT_EQ(FormatHex64(0, 1).view(), "0");
  EXPECT_EQ(FormatHex64(0xABC, 5).view(), "00ABC");
  EXPECT_EQ(FormatHex64(0x1000000000000000, 1).view(), "1000000000000000");
  EXPECT_EQ(FormatHex64(0x0FFFFFFFFFFFFFFF, 1).view(), "FFFFFFFFFFFFFFF");
  EXPECT_EQ(FormatDecimal(-1).view(), "-1");
  EXPECT_EQ(FormatDecimal(0).view(), "0");
  EXPECT_EQ(FormatDecimal(INT64_MIN).view(), "-9223372036854775808");
  EXPECT_EQ(FormatDecimal(INT64_MAX).view(), "9223372036854775807");
  EXPECT_EQ(FormatDecimal(INT32_MIN).view(), "-2147483648");
  // Hex then parse gives the value back, over the whole range.
  std::mt19937_64 random(7);
  for (int k = 0; k < 10000; ++k) {
    const auto v = static_cast<std::int64_t>(random());
    EXPECT_EQ(ParseInt64("$"s.append(FormatHex64(v, 16).view())), v);
    EXPECT_EQ(ParseInt64(std::string(FormatDecimal(v).view())), v);
  }
  // Every digit count, at the edges where it changes, and either side of
  // 2^32 (where a 32-bit build's shorter path ends), against std::to_chars.
  const auto check = [](std::int64_t v) {
    char expected[24];
    const auto end = std::to_chars(expected, expected + sizeof expected, v).ptr;
    EXPECT_EQ(FormatDecimal(v).view(), std::string_view(expected, end - expected));
  };
  std::int64_t power = 1;
  for (int k = 0; k < 19; ++k) {
    for (const std::int64_t v : {power - 1, power, power + 1}) {
      check(v);
      check(-v);
    }
    if (k < 18) power *= 10;
  }
  for (const std::int64_t v :
       std::initializer_list<std::int64_t>{0xFFFFFFFF, 0x100000000, 0x100000001}) {
    check(v);
    check(-v);
  }
}

TEST(FormatNumbers, CounterGivesEachNumberAsFormatted) {
  DecimalCounter counter;
  for (std::int64_t v = 1; v <= 1000001; ++v) {
    counter.Next();
    ASSERT_EQ(counter.view(), FormatDecimal(v).view());
    ASSERT_GE(counter.readable_end() - counter.view().data(), 16);
  }
}

TEST(Messages, ExactTexts) {
  EXPECT_EQ(FormatMessage(MessageId::kCannotOpenFile, "in.txt"), "Cannot open file in.txt");
  EXPECT_EQ(FormatMessage(MessageId::kCannotCreateFile, ""), "Cannot create file ");
  EXPECT_EQ(FormatMessage(MessageId::kStreamWriteError, ""), "Stream write error");
  EXPECT_EQ(MessageOf([] { RaiseListIndexOutOfBounds(-1); }), "List index out of bounds (-1)");
  EXPECT_EQ(FormatMessage(MessageId::kNotValidInteger, "$7G"),
            "'$7G' is not a valid integer value");
  EXPECT_EQ(OutOfMemoryText(), "Out of memory");
}

// The arithmetic of a 32-bit size_t, checked on any host: sums, products
// and growth stop at the limit instead of wrapping.
TEST(CheckedSizes, ThirtyTwoBitArithmeticNeverWraps) {
  using U32 = std::uint32_t;
  constexpr U32 kMax = std::numeric_limits<U32>::max();
  EXPECT_EQ(SaturatingAdd<U32>(kMax - 1, 1), kMax);
  EXPECT_EQ(SaturatingAdd<U32>(kMax, 1), kMax);
  EXPECT_EQ(SaturatingAdd<U32>(U32{1} << 31, U32{1} << 31), kMax);
  EXPECT_EQ(SaturatingAdd<U32>(3, 4), 7u);
  EXPECT_EQ(SaturatingMul<U32>(3, 1431655765), kMax);  // exactly 2^32 - 1
  EXPECT_EQ(SaturatingMul<U32>(3, 1431655766), kMax);  // one past: saturated
  EXPECT_EQ(SaturatingMul<U32>(3, 1431655764), 4294967292u);
  EXPECT_EQ(AddOrOutOfMemory<U32>(kMax - 1, 1), kMax);
  EXPECT_THROW(AddOrOutOfMemory<U32>(kMax, 1), std::bad_alloc);
  EXPECT_EQ(GrownCapacity<U32>(U32{1} << 20, (U32{1} << 20) + 1), U32{2} << 20);
  EXPECT_EQ(GrownCapacity<U32>(U32{1} << 20, (U32{5} << 20)), U32{8} << 20);
  EXPECT_EQ(GrownCapacity<U32>(U32{3} << 30, (U32{3} << 30) + 1), (U32{3} << 30) + 1);
  EXPECT_EQ(GrownCapacity<U32>(0, 5), 8u);
  EXPECT_THROW(GrownCapacity<U32>(U32{3} << 30, kMax), std::bad_alloc);
}

// The row that wrapped the bound of a 32-bit DLL to 1 byte: a full row whose
// eighth field is 1,073,741,742 bytes (the other nine: 9 bytes, with their
// TABs a line of 1,073,741,760). Its room now saturates, so it is never
// written into reserved room.
TEST(RowRoom, SaturatesOnA32BitSizeInsteadOfWrapping) {
  using U32 = std::uint32_t;
  constexpr U32 kMax = std::numeric_limits<U32>::max();
  const std::vector<std::pair<U32, U32>> rooms = {
      {0, 512},           {100, 912},         {1073741695, kMax - 3},  // the largest that fits
      {1073741696, kMax}, {1073741760, kMax}, {kMax, kMax},
  };
  for (const auto& [line, room] : rooms) EXPECT_EQ(RowRoom<U32>(line), room) << line;
  // The same line in 64 bits: one past what 32 bits hold, and more.
  EXPECT_EQ(RowRoom<std::uint64_t>(1073741760), std::uint64_t{4294967040} + 512);

  std::array<U32, 11> values{};
  values.fill(400000000);  // 4.4e9 together
  EXPECT_EQ(ResultLineBound<U32>(values), kMax);
  values.fill(1);
  EXPECT_EQ(ResultLineBound<U32>(values), 43u);
}

}  // namespace
}  // namespace quorvel
