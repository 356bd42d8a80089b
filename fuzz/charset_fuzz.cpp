// The command line's character-set pass, on arbitrary bytes:
//   - Transcode, the copy made for the library (UTF-8 or UTF-16 text to GBK,
//     a GBK document to UTF-8): reading the content as one head must give
//     the same end and copy, or the same stop (line, column, what stands
//     there), as a short head followed by the rest from the stream, and
//     agree with one conversion of the whole content;
//   - DecodeUtf8, FindInvalidUtf8, CountCharacters and OffsetOfCharacter
//     against RFC 3629's table of well-formed sequences, DecodeUtf16 against
//     the surrogate rules;
//   - LookAtHead: the byte order mark it names, and a head of UTF-8 text cut
//     anywhere still looks like UTF-8 up to the cut character.
// Layout: a byte choosing the pass, a byte choosing the short head's length,
// the rest the content.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "charset/charset.h"
#include "charset/sniff.h"
#include "charset/transcode.h"
#include "charset/utf8.h"
#include "system/files.h"

namespace {

using quorvel::cli::Charset;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "charset_fuzz: %s\n", what);
    __builtin_trap();
  }
}

unsigned char Byte(std::string_view text, std::size_t at) {
  return static_cast<unsigned char>(text[at]);
}

// RFC 3629's table: the size of the well-formed sequence at `at`, or 0.
std::size_t WellFormedSize(std::string_view text, std::size_t at) {
  const std::size_t left = text.size() - at;
  auto in = [&](std::size_t i, unsigned low, unsigned high) {
    return i < left && Byte(text, at + i) >= low && Byte(text, at + i) <= high;
  };
  const unsigned lead = Byte(text, at);
  if (lead <= 0x7F) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return in(1, 0x80, 0xBF) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    const unsigned low = lead == 0xE0 ? 0xA0 : 0x80;
    const unsigned high = lead == 0xED ? 0x9F : 0xBF;
    return in(1, low, high) && in(2, 0x80, 0xBF) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    const unsigned low = lead == 0xF0 ? 0x90 : 0x80;
    const unsigned high = lead == 0xF4 ? 0x8F : 0xBF;
    return in(1, low, high) && in(2, 0x80, 0xBF) && in(3, 0x80, 0xBF) ? 4 : 0;
  }
  return 0;
}

char32_t CodeOf(std::string_view text, std::size_t at, std::size_t size) {
  static constexpr unsigned kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  char32_t code = Byte(text, at) & kLeadBits[size];
  for (std::size_t i = 1; i < size; ++i) code = code << 6 | (Byte(text, at + i) & 0x3F);
  return code;
}

void CheckUtf8(std::string_view text) {
  using namespace quorvel::cli;
  std::size_t first_invalid = std::string_view::npos;
  std::size_t characters = 0;
  bool non_ascii = false;
  for (std::size_t at = 0; at < text.size(); ++characters) {
    const std::size_t size = WellFormedSize(text, at);
    const Utf8Char decoded = DecodeUtf8(text.substr(at));
    Check(decoded.size == size, "DecodeUtf8 size");
    Check(size == 0 || decoded.code == CodeOf(text, at, size), "DecodeUtf8 code");
    if (size == 0 && first_invalid == std::string_view::npos) first_invalid = at;
    non_ascii = non_ascii || Byte(text, at) > 0x7F;
    // Columns are counted from character boundaries both ways; checked at a
    // few boundaries only, since each count walks from the start.
    if (characters < 16 || at + 64 > text.size()) {
      Check(CountCharacters(text, at) == characters, "CountCharacters");
      Check(OffsetOfCharacter(text, characters) == at, "OffsetOfCharacter");
    }
    at += size == 0 ? 1 : size;
  }
  Check(FindInvalidUtf8(text) == first_invalid, "FindInvalidUtf8");
  Check(LooksUtf8(text) == (non_ascii && first_invalid == std::string_view::npos), "LooksUtf8");
}

void CheckUtf16(std::string_view bytes, bool big_endian) {
  auto unit = [&](std::size_t at) -> char32_t {
    return big_endian ? Byte(bytes, at) << 8 | Byte(bytes, at + 1)
                      : Byte(bytes, at + 1) << 8 | Byte(bytes, at);
  };
  for (std::size_t at = 0; at < bytes.size(); at += 2) {
    quorvel::cli::Utf16Char expected;
    if (at + 2 <= bytes.size()) {
      const char32_t first = unit(at);
      if (first < 0xD800 || first > 0xDFFF) {
        expected = {first, 2};
      } else if (first <= 0xDBFF && at + 4 <= bytes.size() && unit(at + 2) >= 0xDC00 &&
                 unit(at + 2) <= 0xDFFF) {
        expected = {0x10000 + ((first - 0xD800) << 10) + (unit(at + 2) - 0xDC00), 4};
      }
    }
    const quorvel::cli::Utf16Char got = quorvel::cli::DecodeUtf16(bytes.substr(at), big_endian);
    Check(got.size == expected.size && (got.size == 0 || got.code == expected.code),
          "DecodeUtf16");
  }
}

// A head of valid UTF-8 text without a mark, cut anywhere, looks like UTF-8
// exactly when the characters wholly inside it hold a byte above 0x7F.
void CheckCutHead(std::string_view text, std::size_t cut) {
  using namespace quorvel::cli;
  if (text.find('\0') != std::string_view::npos || FindInvalidUtf8(text) != std::string_view::npos)
    return;
  if (text.starts_with(kUtf8Bom) || text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF"))
    return;
  cut = std::min(cut, text.size());
  std::size_t whole = 0;
  while (whole < cut && whole + WellFormedSize(text, whole) <= cut) {
    whole += WellFormedSize(text, whole);
  }
  const std::string_view head = text.substr(0, cut);
  const bool expected = LooksUtf8(text.substr(0, whole));
  Check(LookAtHead(head, cut < text.size()).looks_utf8 == expected, "a cut head's UTF-8 look");
}

void CheckMark(std::string_view bytes) {
  using namespace quorvel::cli;
  const Head head = LookAtHead(bytes, false);
  std::optional<Charset> expected;
  if (bytes.starts_with("\xEF\xBB\xBF")) expected = Charset::kUtf8;
  else if (bytes.starts_with("\xFF\xFE")) expected = Charset::kUtf16Le;
  else if (bytes.starts_with("\xFE\xFF")) expected = Charset::kUtf16Be;
  Check(head.bom == expected, "byte order mark");
  Check(!(head.bom && head.looks_utf8), "a marked head judged by its look");
}

// What Transcode gives: its end, its output, where it stopped.
struct Pass {
  quorvel::cli::PassStatus status;
  std::string out;
  std::int64_t line = 0;
  std::size_t column = 0;
  std::string what;
  bool operator==(const Pass&) const = default;
};

Pass RunTranscode(std::string_view content, std::size_t head_size, Charset from, Charset to) {
  const std::string_view head = content.substr(0, head_size);
  const std::string rest(content.substr(head.size()));
  std::FILE* in = rest.empty() ? std::fopen("/dev/null", "rb")
                               : fmemopen(const_cast<char*>(rest.data()), rest.size(), "rb");
  Check(in != nullptr, "opening the input stream");
  char* written = nullptr;
  std::size_t written_size = 0;
  std::FILE* out = open_memstream(&written, &written_size);
  Check(out != nullptr, "opening the output stream");
  quorvel::cli::EncodingStop stop;
  const quorvel::cli::PassEnd end = quorvel::cli::Transcode(head, in, from, to, out, &stop);
  std::fclose(in);
  std::fclose(out);
  // A pass that stops leaves a copy that is thrown away: only its stop counts.
  Pass pass{end.status, {}, stop.line, stop.column, stop.what};
  if (end.status == quorvel::cli::PassStatus::kOk) pass.out.assign(written, written_size);
  std::free(written);
  return pass;
}

// The content the library is to read: the source's mark dropped, up to the
// first NUL (a NUL unit in UTF-16). `tail` gets what the copy keeps of the
// rest, so that the library sees that something followed: the NUL, then the
// first byte after it (after the unit in UTF-16), if there is one.
std::string_view ContentOf(std::string_view bytes, Charset from, std::string* tail) {
  const std::string_view mark = quorvel::cli::ByteOrderMark(from);
  if (bytes.starts_with(mark)) bytes.remove_prefix(mark.size());
  std::size_t end = std::string_view::npos;
  std::size_t unit = 1;
  if (!quorvel::cli::IsUtf16(from)) {
    end = bytes.find('\0');
  } else {
    unit = 2;
    for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) {
      if (bytes[at] == '\0' && bytes[at + 1] == '\0') {
        end = at;
        break;
      }
    }
  }
  tail->clear();
  if (end == std::string_view::npos) return bytes;
  tail->assign(1, '\0').append(bytes.substr(end + unit, 1));
  return bytes.substr(0, end);
}

void CheckTranscode(std::string_view bytes, std::size_t short_head, Charset from, Charset to) {
  using quorvel::cli::PassStatus;
  // A head holds a byte order mark whole, as the tool's does.
  short_head = std::min(bytes.size(), 3 + short_head);
  const Pass whole = RunTranscode(bytes, bytes.size(), from, to);
  Check(RunTranscode(bytes, short_head, from, to) == whole, "Transcode depends on the head");
  quorvel::cli::Converter converter(from, to);
  Check(converter.ok(), "no converter");
  std::string at_once;
  std::size_t bad = 0;
  std::string tail;
  const bool converted = converter.Append(ContentOf(bytes, from, &tail), &at_once, &bad);
  at_once += tail;
  if (converted) {
    Check(whole.status == PassStatus::kOk && whole.out == at_once, "Transcode's copy");
  } else {
    Check(whole.status == PassStatus::kNotConvertible, "Transcode passed what does not convert");
    Check(whole.line >= 1 && whole.column >= 1 && !whole.what.empty(), "the stop's place");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
  const unsigned pass = data[0] % 4;
  const std::size_t short_head = data[1];
  static constexpr std::array<Charset, 4> kFrom = {Charset::kUtf8, Charset::kUtf16Le,
                                                   Charset::kUtf16Be, Charset::kGbk};
  const Charset from = kFrom[pass];
  CheckTranscode(bytes, short_head, from, from == Charset::kGbk ? Charset::kUtf8 : Charset::kGbk);
  CheckUtf8(bytes);
  CheckUtf16(bytes, pass % 2 == 0);
  CheckCutHead(bytes, short_head);
  CheckMark(bytes);
  return 0;
}
