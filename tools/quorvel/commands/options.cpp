#include "commands/options.h"

#include <getopt.h>

#include <algorithm>
#include <array>

namespace quorvel::cli {
namespace {

enum CommandBit : unsigned { kTxt2XmlBit = 1, kXml2TxtBit = 2, kCheckBit = 4, kAllBits = 7 };

// The values getopt_long returns for options without a letter.
enum LongOnly : int {
  kType = 256,
  kNsr,
  kQymc,
  kEncoding,
  kStrict,
  kAllowEmptyRows,
  kNoProgress,
  kDate,
};

struct OptionSpec {
  option entry;       // as getopt_long takes it
  unsigned commands;  // CommandBit mask of the commands that take it
};

constexpr std::array<OptionSpec, 11> kOptions = {{
    {{"help", no_argument, nullptr, 'h'}, kAllBits},
    {{"version", no_argument, nullptr, 'V'}, kAllBits},
    {{"quiet", no_argument, nullptr, 'q'}, kAllBits},
    {{"encoding", required_argument, nullptr, kEncoding}, kAllBits},
    {{"strict", no_argument, nullptr, kStrict}, kAllBits},
    {{"no-progress", no_argument, nullptr, kNoProgress}, kAllBits},
    {{"type", required_argument, nullptr, kType}, kTxt2XmlBit | kCheckBit},
    {{"nsr", required_argument, nullptr, kNsr}, kTxt2XmlBit | kCheckBit},
    {{"qymc", required_argument, nullptr, kQymc}, kTxt2XmlBit | kCheckBit},
    {{"date", required_argument, nullptr, kDate}, kTxt2XmlBit | kCheckBit},
    {{"allow-empty-rows", no_argument, nullptr, kAllowEmptyRows}, kTxt2XmlBit | kCheckBit},
}};

const OptionSpec* FindOption(int value) {
  for (const OptionSpec& option : kOptions) {
    if (option.entry.val == value) return &option;
  }
  return nullptr;
}

std::string OptionName(int value) {
  const OptionSpec* option = FindOption(value);
  return option != nullptr ? "--" + std::string(option->entry.name) : std::string(1, '-');
}

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

// gbk, utf-8 (utf8), utf-16 (utf16, utf-16le), utf-16be, in any case.
bool ParseEncoding(std::string_view text, Charset* encoding) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (lower == "gbk") {
    *encoding = Charset::kGbk;
  } else if (lower == "utf-8" || lower == "utf8") {
    *encoding = Charset::kUtf8;
  } else if (lower == "utf-16" || lower == "utf16" || lower == "utf-16le") {
    *encoding = Charset::kUtf16Le;
  } else if (lower == "utf-16be") {
    *encoding = Charset::kUtf16Be;
  } else {
    return false;
  }
  return true;
}

// Takes the option getopt_long returned; false, with the error, for a bad value.
bool SetOption(int value, const char* argument, Request* request, std::string* error) {
  const std::string_view text = argument != nullptr ? argument : "";
  bool ok = true;
  switch (value) {
    case kType:
      ok = ParseCode(text, &request->type);
      break;
    case kNsr:
      request->nsr = text;
      break;
    case kQymc:
      request->qymc = text;
      break;
    case kEncoding:
      request->encoding_given = true;
      ok = ParseEncoding(text, &request->encoding);
      break;
    case kDate:
      ok = ParseDate(text, &request->date.emplace());
      break;
    case kStrict:
      request->strict = true;
      break;
    case kAllowEmptyRows:
      request->allow_empty_rows = true;
      break;
    case kNoProgress:
      request->progress = false;
      break;
    case 'q':
      request->quiet = true;
      break;
    default:
      break;
  }
  if (!ok) *error = "invalid argument '" + std::string(text) + "' for '" + OptionName(value) + "'";
  return ok;
}

struct CommandSpec {
  std::string_view word;
  Command command;
  unsigned bit;
};

constexpr std::array<CommandSpec, 3> kCommands = {{
    {"txt2xml", Command::kTxt2Xml, kTxt2XmlBit},
    {"xml2txt", Command::kXml2Txt, kXml2TxtBit},
    {"check", Command::kCheck, kCheckBit},
}};

const CommandSpec* FindCommand(std::string_view word) {
  for (const CommandSpec& command : kCommands) {
    if (command.word == word) return &command;
  }
  return nullptr;
}

// What getopt_long reported for argument `argument`, in GNU's words. (For a
// value given to an option that takes none, glibc returns '?' and mingw-w64
// ':': the "=" tells.)
std::string OptionError(int result, const char* argument) {
  const std::string shown = argument != nullptr ? argument : "";
  const OptionSpec* option = optopt != 0 ? FindOption(optopt) : nullptr;
  const bool long_option = shown.starts_with("--");
  if (option != nullptr && long_option && option->entry.has_arg == no_argument &&
      shown.find('=') != std::string::npos) {
    return "option '" + OptionName(optopt) + "' doesn't allow an argument";
  }
  if (result == ':') return "option '" + OptionName(optopt) + "' requires an argument";
  if (optopt != 0 && !long_option) {
    return "invalid option -- '" + std::string(1, static_cast<char>(optopt)) + "'";
  }
  return "unrecognized option '" + shown + "'";
}

// Runs getopt_long over `words` (the program's name first); the options go
// to `request`, the operands to its files. `*given` collects the options'
// values.
bool ReadOptions(std::vector<std::string>& words, Request* request, std::vector<int>* given,
                 std::string* error) {
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  std::array<option, kOptions.size() + 1> table{};
  for (std::size_t k = 0; k < kOptions.size(); ++k) table[k] = kOptions[k].entry;
  opterr = 0;
  optind = 0;  // starts getopt_long afresh
  const int argc = static_cast<int>(words.size());
  // "-": operands come back in order, as value 1, wherever they stand.
  for (int value; (value = getopt_long(argc, argv.data(), "-:hVq", table.data(), nullptr)) != -1;) {
    if (value == 1) {
      request->files.emplace_back(optarg);
    } else if (value == '?' || value == ':') {
      *error = OptionError(value, argv[optind - 1]);
      return false;
    } else {
      given->push_back(value);
      if (!SetOption(value, optarg, request, error)) return false;
    }
  }
  for (int k = optind; k < argc; ++k) request->files.emplace_back(argv[k]);
  return true;
}

}  // namespace

bool ParseRequest(const std::vector<std::string>& arguments, Request* request, std::string* error) {
  const CommandSpec* command = arguments.empty() ? nullptr : FindCommand(arguments[0]);
  std::vector<std::string> words = {"quorvel"};
  words.insert(words.end(), arguments.begin() + (command != nullptr ? 1 : 0), arguments.end());
  std::vector<int> given;
  if (!ReadOptions(words, request, &given, error)) return false;
  for (const int value : {'h', 'V'}) {
    if (std::find(given.begin(), given.end(), value) == given.end()) continue;
    request->command = value == 'h' ? Command::kHelp : Command::kVersion;
    return true;
  }
  if (command == nullptr) {
    *error = arguments.empty() ? "missing command" : "unknown command '" + arguments[0] + "'";
    return false;
  }
  request->command = command->command;
  for (const int value : given) {
    if ((FindOption(value)->commands & command->bit) != 0) continue;
    *error = "option '" + OptionName(value) + "' does not apply to " + std::string(command->word);
    return false;
  }
  if (command->command == Command::kXml2Txt && IsUtf16(request->encoding)) {
    *error = "invalid argument 'utf-16' for '--encoding': xml2txt writes GBK or UTF-8";
    return false;
  }
  const std::size_t count = request->files.size();
  const bool pair = command->command != Command::kCheck;
  if (count == 0 || (pair && count == 1)) {
    *error = std::string(command->word) + ": missing " +
             (count == 0 && pair ? "INPUT and OUTPUT"
              : pair             ? "OUTPUT"
                                 : "FILE");
    return false;
  }
  if (pair && count > 2) {
    *error = std::string(command->word) + ": extra operand '" + request->files[2] + "'";
    return false;
  }
  return true;
}

}  // namespace quorvel::cli
