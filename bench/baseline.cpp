// A plain implementation that follows the description literally, kept only
// to show what the library's design gains: every line a separately allocated
// string, the whole output built as a list of lines and joined at the end,
// escaping by repeated first-occurrence replacement, and 22 substring
// searches per document line (an opening and a closing tag for each of the
// eleven elements). Not part of the library; error handling is minimal.
//   baseline txt2xml IN OUT CODE NSR QYMC
//   baseline xml2txt IN OUT
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

Lines SplitLines(const std::string& content) {
  Lines lines;
  std::size_t i = 0;
  const std::size_t end = content.find('\0') == std::string::npos ? content.size() : content.find('\0');
  while (i < end) {
    std::size_t j = i;
    while (j < end && content[j] != '\r' && content[j] != '\n') ++j;
    lines.push_back(content.substr(i, j - i));
    i = j;
    if (i < end && content[i] == '\r') ++i;
    if (i < end && content[i] == '\n') ++i;
  }
  return lines;
}

Lines Load(const char* path) {
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) {
    std::fprintf(stderr, "Cannot open file %s\n", path);
    std::exit(1);
  }
  std::string content;
  char buffer[1 << 16];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) content.append(buffer, n);
  std::fclose(f);
  return SplitLines(content);
}

void Save(const Lines& lines, const char* path) {
  std::string out;
  for (const std::string& line : lines) out += line + "\r\n";
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr || std::fwrite(out.data(), 1, out.size(), f) != out.size()) std::exit(1);
  std::fclose(f);
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text = text.substr(0, at) + to + text.substr(at + from.size());
  }
  return text;
}

std::string Element(const std::string& line, const std::string& name) {
  const std::size_t p = line.find("<" + name + ">");
  const std::size_t q = line.find("</" + name + ">");
  if (p == std::string::npos || q == std::string::npos) return "";
  const std::size_t from = p + name.size() + 2;
  if (q <= from) return "";
  std::string value = line.substr(from, q - from);
  while (!value.empty() && static_cast<unsigned char>(value.back()) <= 0x20) value.pop_back();
  while (!value.empty() && static_cast<unsigned char>(value.front()) <= 0x20) value.erase(0, 1);
  return value;
}

int64_t ParseSigned(const std::string& text, bool hex) {
  char* end = nullptr;
  const int64_t v = static_cast<int64_t>(hex ? std::strtoull(text.c_str(), &end, 16)
                                             : std::strtoll(text.c_str(), &end, 0));
  if (end == text.c_str() || *end != '\0') {
    std::fprintf(stderr, "'%s' is not a valid integer value\n", text.c_str());
    std::exit(1);
  }
  return v;
}

int Txt2Xml(const char* in, const char* out, const char* code, const char* nsr, const char* qymc) {
  const Lines input = Load(in);
  Lines doc;
  const std::string c = code;
  doc.push_back("<?xml version=\"1.0\"  encoding=\"GBK\"?>");
  doc.push_back("<!-- DOCTYPE RZ00" + c + " SYSTEM \"RZ00" + c + ".dtd\" -->");
  doc.push_back("<body>");
  doc.push_back(" <head>");
  doc.push_back("  <code>RZ00" + c + "</code>");
  doc.push_back("  <title>T</title>");
  doc.push_back(std::string("  <nsr>") + nsr + "</nsr>");
  doc.push_back(std::string("  <qymc>") + qymc + "</qymc>");
  doc.push_back("  <scrq>20261206</scrq>");
  doc.push_back("  <rows>" + std::to_string(input.size()) + "</rows>");
  doc.push_back(" </head>");
  if (!input.empty()) doc.push_back(" <data>");
  static const char* const kFull[] = {"dm", "hm", "gf", "xf", "kr", "je", "se", "mw", "sy", "bb"};
  static const char* const kShort[] = {"dm", "hm", "gf", "xf", "kr", "je", "se", "rq"};
  for (std::size_t i = 0; i < input.size(); ++i) {
    doc.push_back("  <row id=\"" + std::to_string(i + 1) + "\">");
    Lines fields = SplitLines(ReplaceAll(input[i], "\t", "\r"));
    for (std::size_t k = 0; fields.size() == 10 && k < 10; ++k) {
      std::string value = fields[k];
      if (k == 7) value = ReplaceAll(ReplaceAll(value, ">", "&gt;"), "<", "&lt;");
      if (k == 8 && (value.empty() || value[0] != 'A')) {
        const bool dollar = !value.empty() && value[0] == '$';
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llX",
                      static_cast<unsigned long long>(ParseSigned(dollar ? value.substr(1) : value, dollar)));
        value = hex;
      }
      doc.push_back(std::string("   <") + kFull[k] + ">" + value + "</" + kFull[k] + ">");
    }
    for (std::size_t k = 0; fields.size() == 8 && k < 8; ++k) {
      doc.push_back(std::string("   <") + kShort[k] + ">" + fields[k] + "</" + kShort[k] + ">");
    }
    doc.push_back("  </row>");
  }
  if (!input.empty()) doc.push_back(" </data>");
  doc.push_back("</body>");
  Save(doc, out);
  return 0;
}

std::string Date(const std::string& v) {
  auto copy = [&v](std::size_t from, std::size_t n) { return from < v.size() ? v.substr(from, n) : std::string(); };
  return copy(0, 4) + "/" + copy(4, 2) + "/" + copy(6, 2);
}

int Xml2Txt(const char* in, const char* out) {
  const Lines doc = Load(in);
  static const char* const kNames[] = {"dm", "hm", "gf", "xf", "kr", "je", "se", "mw", "sy", "jg", "rq"};
  std::size_t i = 0;
  while (Element(doc.at(i), "nsr").empty()) ++i;
  i = 0;
  while (Element(doc.at(i), "rows").empty()) ++i;
  const long rows = std::strtol(Element(doc[i], "rows").c_str(), nullptr, 10);
  std::size_t scan = 1;
  while (doc.at(scan).find("<data>") == std::string::npos) ++scan;
  Lines result;
  int incomplete = 0;
  for (long r = 0; r < rows; ++r) {
    std::size_t open = scan;
    while (doc.at(open).find("<row") == std::string::npos) ++open;
    std::size_t close = open + 1;
    while (doc.at(close).find("</row>") == std::string::npos) ++close;
    scan = close + 1;
    std::string values[11];
    for (std::size_t l = open; l <= close; ++l) {
      for (int k = 0; k < 11; ++k) {
        std::string v = Element(doc[l], kNames[k]);
        if (v.empty()) continue;
        if (k == 8 && v[0] != 'A') v = std::to_string(ParseSigned(v, true));
        values[k] = v;
      }
    }
    bool complete = true;
    for (const std::string& v : values) complete = complete && !v.empty();
    if (!complete) {
      ++incomplete;
      continue;
    }
    values[4] = Date(values[4]);
    values[10] = Date(values[10]);
    values[7] = ReplaceAll(ReplaceAll(values[7], "&gt;", ">"), "&lt;", "<");
    std::string line = values[0];
    for (int k = 1; k < 11; ++k) line += "\t" + values[k];
    result.push_back(line);
  }
  if (incomplete > 0) return 2;
  Save(result, out);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 7 && std::strcmp(argv[1], "txt2xml") == 0) return Txt2Xml(argv[2], argv[3], argv[4], argv[5], argv[6]);
  if (argc == 4 && std::strcmp(argv[1], "xml2txt") == 0) return Xml2Txt(argv[2], argv[3]);
  std::fprintf(stderr, "usage: baseline txt2xml IN OUT CODE NSR QYMC | xml2txt IN OUT\n");
  return 64;
}
