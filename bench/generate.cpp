// Writes realistic inputs of a given size for the benchmarks:
//   generate text MEGABYTES OUT       tab-separated invoices (90% full rows,
//                                     10% short rows), GBK names, CR LF
//   generate returned MEGABYTES OUT   a returned exchange document whose rows
//                                     carry the eleven values, jg and rq
//   generate KIND MEGABYTES OUT SHAPE the same rows of another shape:
//     mixed    the default above
//     short    short rows only (text: 8 fields; returned: an 8 byte mw, a
//              small sy)
//     long-mw  cipher areas of 1000 bytes
//     hex-sy   every sy a number (hexadecimal in the document), none "A..."
//     gbk      company names of 60 GBK characters
// Field lengths follow real invoices: 10-12 digit codes, 8 digit numbers,
// 18 character tax ids with company names, 108 byte cipher areas full of < >.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::uint64_t state = 0x9E3779B97F4A7C15ull;
std::uint64_t Next() {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return state;
}
int Pick(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }

enum class Shape { kMixed, kShort, kLongMw, kHexSy, kGbk };
Shape shape = Shape::kMixed;

std::string Digits(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>('0' + Pick(10));
  return s;
}

std::string Cipher() {
  static const char kAlphabet[] = "0123456789+-*/<>";
  std::string s;
  const int length = shape == Shape::kLongMw ? 1000 : shape == Shape::kShort ? 8 : 108;
  for (int i = 0; i < length; ++i) s += kAlphabet[Pick(16)];
  return s;
}

const char* const kNames[] = {
    "\xC9\xCF\xBA\xA3\xC3\xF7\xD4\xB6\xB5\xE7\xD7\xD3\xBF\xC6\xBC\xBC\xD3\xD0\xCF\xDE\xB9\xAB\xCB"
    "\xBE",
    "\xC9\xEE\xDB\xDA\xBB\xAA\xC7\xBF\xB5\xE7\xD7\xD3\xD3\xD0\xCF\xDE\xB9\xAB\xCB\xBE",
    "\xB1\xB1\xBE\xA9\xD6\xD0\xB9\xD8\xB4\xE5\xC8\xED\xBC\xFE\xD4\xB0",
};

std::string TaxId() { return "91" + Digits(4) + "MA1FL4XQ" + Digits(4); }
std::string Name() {
  if (shape != Shape::kGbk) return kNames[Pick(3)];
  std::string s;  // two-byte characters from the GBK range of common ideographs
  for (int i = 0; i < 60; ++i) {
    s += static_cast<char>(0xB0 + Pick(0xF7 - 0xB0));
    s += static_cast<char>(0xA1 + Pick(0xFE - 0xA1));
  }
  return s;
}
std::string TwoDigits(int v) {
  return std::string(1, static_cast<char>('0' + v / 10)) + static_cast<char>('0' + v % 10);
}
std::string Date() { return "2026" + TwoDigits(1 + Pick(12)) + TwoDigits(1 + Pick(28)); }
std::string Amount() { return std::to_string(100 + Pick(99900)) + "." + Digits(2); }
std::string Sy() {
  if (shape == Shape::kHexSy) return std::to_string(Next() >> (1 + Pick(8)));
  switch (Pick(4)) {
    case 0:
      return "A" + Digits(6);
    case 1:
      return "$" + std::to_string(Pick(1 << 30));
    default:
      return std::to_string(Next() >> (1 + Pick(62)));
  }
}

std::string TextLine() {
  std::string line = Digits(10 + Pick(3)) + "\t" + Digits(8) + "\t" + TaxId() + "\t" + TaxId() +
                     " " + Name() + "\t" + Date() + "\t" + Amount() + "\t" + Amount() + "\t";
  if (shape == Shape::kShort || Pick(10) == 0) return line + Date() + "\r\n";  // short row: rq
  return line + Cipher() + "\t" + Sy() + "\t" + std::to_string(1 + Pick(2)) + "\r\n";
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else
      out += c;
  }
  return out;
}

std::string ReturnedRow(long id) {
  char sy[24];
  const std::uint64_t value = Next();
  const int shift = shape == Shape::kHexSy ? 1 + Pick(8) : shape == Shape::kShort ? 56 : Pick(63);
  std::snprintf(sy, sizeof sy, "%016llX", static_cast<unsigned long long>(value >> shift));
  return "  <row id=\"" + std::to_string(id) + "\">\r\n   <dm>" + Digits(10) + "</dm>\r\n   <hm>" +
         Digits(8) + "</hm>\r\n   <gf>" + TaxId() + "</gf>\r\n   <xf>" + TaxId() + " " + Name() +
         "</xf>\r\n   <kr>" + Date() + "</kr>\r\n   <je>" + Amount() + "</je>\r\n   <se>" +
         Amount() + "</se>\r\n   <mw>" + Escaped(Cipher()) + "</mw>\r\n   <sy>" + sy +
         "</sy>\r\n   <jg>0000</jg>\r\n   <rq>" + Date() + "</rq>\r\n  </row>\r\n";
}

}  // namespace

int main(int argc, char** argv) {
  const char* const shapes[] = {"mixed", "short", "long-mw", "hex-sy", "gbk"};
  int picked = 0;
  while (argc == 5 && picked < 5 && std::strcmp(argv[4], shapes[picked]) != 0) ++picked;
  if ((argc != 4 && argc != 5) || picked == 5 ||
      (std::strcmp(argv[1], "text") != 0 && std::strcmp(argv[1], "returned") != 0)) {
    std::fprintf(stderr,
                 "usage: generate text|returned MEGABYTES OUT [mixed|short|long-mw|hex-sy|gbk]\n");
    return 64;
  }
  shape = static_cast<Shape>(picked);
  const bool text = std::strcmp(argv[1], "text") == 0;
  const std::uint64_t target = std::strtoull(argv[2], nullptr, 10) * 1000000ull;
  std::FILE* out = std::fopen(argv[3], "wb");
  if (out == nullptr) return 1;
  std::string body;
  long rows = 0;
  // The returned document's header needs the row count: rows are counted by
  // size first, the header written, then the same rows again (same seed).
  const std::string head_template =
      "<?xml version=\"1.0\"  encoding=\"GBK\"?>\r\n<!-- DOCTYPE RZ00102 SYSTEM \"RZ00102.dtd\" "
      "-->\r\n<body>\r\n <head>\r\n  <code>RZ00102</code>\r\n  <title>T</title>\r\n  "
      "<nsr>913101157178123456</nsr>\r\n  <qymc>Q</qymc>\r\n  <scrq>20261206</scrq>\r\n  <rows>";
  std::uint64_t written = 0;
  if (text) {
    while (written < target) {
      const std::string line = TextLine();
      std::fwrite(line.data(), 1, line.size(), out);
      written += line.size();
    }
  } else {
    const std::uint64_t seed = state;
    for (std::uint64_t size = head_template.size() + 40; size < target; ++rows)
      size += ReturnedRow(rows + 1).size();
    state = seed;
    const std::string head =
        head_template + std::to_string(rows) + "</rows>\r\n </head>\r\n <data>\r\n";
    std::fwrite(head.data(), 1, head.size(), out);
    for (long id = 1; id <= rows; ++id) {
      const std::string row = ReturnedRow(id);
      std::fwrite(row.data(), 1, row.size(), out);
    }
    std::fputs(" </data>\r\n</body>\r\n", out);
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
