#include "commands/options.h"

#include <array>

namespace quorvel::cli {
namespace {

constexpr std::string_view kUsage =
    "usage: quorvel txt2xml INPUT OUTPUT [--type CODE] [--nsr TEXT] [--qymc TEXT]\n"
    "                       [--encoding gbk|utf-8] [--strict] [--quiet]\n"
    "       quorvel xml2txt INPUT OUTPUT [--encoding gbk|utf-8] [--quiet]\n"
    "       quorvel check FILE [--encoding gbk|utf-8] [--quiet]\n"
    "       quorvel --help | -h | --version\n";

constexpr std::string_view kHelp =
    "\n"
    "Converts VAT special-invoice data between a tab-separated text file (one\n"
    "invoice a line) and the GBK exchange document. INPUT, OUTPUT or FILE may be\n"
    "\"-\": standard input or standard output, which then carries nothing but the\n"
    "converted bytes. Messages, counts and \"wrote\" lines go to standard error;\n"
    "only check's summary goes to standard output.\n"
    "\n"
    "  txt2xml INPUT OUTPUT   Reads INPUT, one invoice a line with 10 TAB-separated\n"
    "                         fields (8 for a short row), and writes the exchange\n"
    "                         document OUTPUT, dated today. A line of any other\n"
    "                         number of fields becomes an empty row: each is named\n"
    "                         on standard error (the first 20, then a count).\n"
    "      --type CODE        document type: 100 (collected, awaiting\n"
    "                         authentication; the default) or 102 (authentication\n"
    "                         matched); other codes get the unknown-data title\n"
    "      --nsr TEXT         the nsr header value (default empty)\n"
    "      --qymc TEXT        the qymc header value (default empty)\n"
    "      --strict           a line that would become an empty row is an error:\n"
    "                         nothing is written\n"
    "\n"
    "  xml2txt INPUT OUTPUT   Reads the returned exchange document INPUT and writes\n"
    "                         one TAB-separated line per row to OUTPUT; shows the\n"
    "                         document's rows count and nsr text. Rows that lack\n"
    "                         some of their eleven values are named with their id,\n"
    "                         lines and missing values (the first 20, then a count).\n"
    "\n"
    "  check FILE             Tells from its content whether FILE is a text or a\n"
    "                         returned document and reports what converting it\n"
    "                         would do, writing nothing: its rows, the lines that\n"
    "                         would become empty rows, the incomplete rows, or the\n"
    "                         reason the conversion would fail; then a one-line\n"
    "                         summary on standard output.\n"
    "\n"
    "  --encoding gbk|utf-8   the character set of the text side: the text file,\n"
    "                         --nsr, --qymc and the nsr shown (utf8, and capital\n"
    "                         letters, are taken too). gbk (the default) passes\n"
    "                         bytes through unchanged; utf-8 converts them to and\n"
    "                         from the document's GBK, failing on a character GBK\n"
    "                         lacks. Without the option, a text side that looks\n"
    "                         like UTF-8 draws a warning.\n"
    "  --quiet                no counts, no \"wrote\" lines and no check summary\n"
    "  --help, -h             this text\n"
    "  --version              the library's version: quorvel.exe that of the\n"
    "                         Quorvel.dll it loaded, natively the one it was built\n"
    "                         with\n"
    "\n"
    "Exit status: 0 converted (check: would convert cleanly); 1 failed, nothing\n"
    "written (the reason follows \"quorvel: \" on standard error); 2 some rows\n"
    "lacked one of their eleven values, so nothing was written; 3 (check only) would\n"
    "convert, with warnings; 4 (check only) could not tell, as its own temporary\n"
    "file could not be written; 64 wrong usage.\n"
    "\n"
    "OUTPUT is written only on success. A regular file is replaced in one step; one\n"
    "a new file cannot stand in for (another user's, hard-linked), a device or a\n"
    "pipe is written in place afterwards, and a failed write (a full disk) can\n"
    "leave it partly written, as it can standard output.\n";

enum CommandBit : unsigned { kTxt2XmlBit = 1, kXml2TxtBit = 2, kCheckBit = 4 };

struct OptionSpec {
  std::string_view name;
  bool takes_value;
  unsigned commands;  // CommandBit mask of the commands that accept it
};

constexpr std::array<OptionSpec, 6> kOptions = {{
    {"--type", true, kTxt2XmlBit},
    {"--nsr", true, kTxt2XmlBit},
    {"--qymc", true, kTxt2XmlBit},
    {"--encoding", true, kTxt2XmlBit | kXml2TxtBit | kCheckBit},
    {"--strict", false, kTxt2XmlBit},
    {"--quiet", false, kTxt2XmlBit | kXml2TxtBit | kCheckBit},
}};

// A signed 32-bit decimal, whole text: no locale, no silent truncation.
bool ParseCode(std::string_view text, std::int32_t* code) {
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty() || text.size() > 10) return false;
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return false;
  *code = static_cast<std::int32_t>(value);
  return true;
}

// gbk, utf-8 or utf8, in any case of ASCII letters.
bool ParseEncoding(std::string_view text, Charset* encoding) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (lower == "gbk") {
    *encoding = Charset::kGbk;
  } else if (lower == "utf-8" || lower == "utf8") {
    *encoding = Charset::kUtf8;
  } else {
    return false;
  }
  return true;
}

bool SetOption(std::string_view name, std::string_view value, Request* request) {
  if (name == "--type") return ParseCode(value, &request->type);
  if (name == "--nsr") {
    request->nsr = value;
  } else if (name == "--qymc") {
    request->qymc = value;
  } else if (name == "--encoding") {
    request->encoding_given = true;
    return ParseEncoding(value, &request->encoding);
  } else if (name == "--strict") {
    request->strict = true;
  } else if (name == "--quiet") {
    request->quiet = true;
  }
  return true;
}

struct CommandSpec {
  std::string_view word;
  Command command;
  unsigned bit;            // its CommandBit
  std::size_t file_count;  // INPUT OUTPUT, or FILE
};

constexpr std::array<CommandSpec, 3> kCommands = {{
    {"txt2xml", Command::kTxt2Xml, kTxt2XmlBit, 2},
    {"xml2txt", Command::kXml2Txt, kXml2TxtBit, 2},
    {"check", Command::kCheck, kCheckBit, 1},
}};

const CommandSpec* FindCommand(std::string_view word) {
  for (const CommandSpec& spec : kCommands) {
    if (spec.word == word) return &spec;
  }
  return nullptr;
}

}  // namespace

bool ParseRequest(const std::vector<std::string>& arguments, Request* request) {
  if (arguments.empty()) return false;
  const std::string_view first = arguments[0];
  if (first == "--help" || first == "-h" || first == "--version") {
    request->command = first == "--version" ? Command::kVersion : Command::kHelp;
    return arguments.size() == 1;
  }
  const CommandSpec* command = FindCommand(first);
  if (command == nullptr) return false;
  request->command = command->command;
  bool options_ended = false;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    if (options_ended || !argument.starts_with("--")) {
      request->files.emplace_back(argument);
      continue;
    }
    if (argument == "--") {
      options_ended = true;
      continue;
    }
    const std::size_t equals = argument.find('=');
    const std::string_view name = argument.substr(0, equals);
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& option : kOptions) {
      if (option.name == name && (option.commands & command->bit) != 0) spec = &option;
    }
    if (spec == nullptr) return false;
    std::string_view value;
    if (equals != std::string_view::npos) {
      if (!spec->takes_value) return false;
      value = argument.substr(equals + 1);
    } else if (spec->takes_value) {
      if (++i == arguments.size()) return false;
      value = arguments[i];
    }
    if (!SetOption(name, value, request)) return false;
  }
  return request->files.size() == command->file_count;
}

std::string_view UsageText() { return kUsage; }

std::string HelpText() { return std::string(kUsage) + std::string(kHelp); }

}  // namespace quorvel::cli
