// quorvel: a command-line host over the library.
//
//   quorvel txt2xml INPUT OUTPUT [--type CODE] [--nsr TEXT] [--qymc TEXT]
//   quorvel xml2txt INPUT OUTPUT
//
// It holds no conversion logic: it passes its arguments, byte for byte, to the
// three exported functions and reports what they return. The native build
// links the shared library; the Windows build loads Quorvel.dll at run time,
// as any host does.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "quorvel.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitIncomplete = 2;
constexpr int kExitUsage = 64;

constexpr char kUsage[] =
    "usage: quorvel txt2xml INPUT OUTPUT [--type CODE] [--nsr TEXT] [--qymc TEXT]\n"
    "       quorvel xml2txt INPUT OUTPUT\n"
    "       quorvel --help | --version\n";

constexpr char kHelp[] =
    "\n"
    "Converts VAT special-invoice data between a tab-separated text file (one\n"
    "invoice a line) and the GBK exchange document. Paths and texts are passed\n"
    "to the library as the bytes given.\n"
    "\n"
    "  txt2xml INPUT OUTPUT   Reads INPUT, one invoice a line with 10 TAB-separated\n"
    "                         fields (8 for a short row), and writes the exchange\n"
    "                         document OUTPUT, dated today.\n"
    "      --type CODE        document type: 100 (collected, awaiting\n"
    "                         authentication; the default) or 102 (authentication\n"
    "                         matched); other codes get the unknown-data title\n"
    "      --nsr TEXT         the nsr header value (default empty)\n"
    "      --qymc TEXT        the qymc header value (default empty)\n"
    "\n"
    "  xml2txt INPUT OUTPUT   Reads the returned exchange document INPUT and writes\n"
    "                         one TAB-separated line per row to OUTPUT; prints the\n"
    "                         document's rows count and nsr text.\n"
    "\n"
    "Exit status: 0 converted; 1 failed (the reason follows \"quorvel: \" on\n"
    "standard error); 2 some rows lacked one of their eleven values, so no output\n"
    "file was written; 64 wrong usage. OUTPUT is replaced only on success.\n";

using GetLastErrorFn = int32_t(QUORVEL_CALL*)(char*);
using Txt2XmlFn = int32_t(QUORVEL_CALL*)(const char*, const char*, int32_t, const char*,
                                         const char*);
using Xml2TxtFn = int32_t(QUORVEL_CALL*)(const char*, const char*, int32_t, int32_t*, char*,
                                         char*);

struct Exports {
  GetLastErrorFn get_last_error = nullptr;
  Txt2XmlFn txt2xml = nullptr;
  Xml2TxtFn xml2txt = nullptr;
  std::string version;
};

#ifdef _WIN32
// The version of the loaded DLL, from its version resource.
std::string DllVersion(HMODULE module) {
  char path[MAX_PATH];
  if (GetModuleFileNameA(module, path, MAX_PATH) == 0) return "unknown";
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  if (size == 0) return "unknown";
  std::string data(size, '\0');
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!GetFileVersionInfoA(path, 0, size, data.data()) ||
      !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length)) {
    return "unknown";
  }
  return std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
         std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(info->dwFileVersionLS));
}

bool LoadExports(Exports* exports) {
  const HMODULE module = LoadLibraryA("Quorvel.dll");
  if (module == nullptr) return false;
  exports->get_last_error =
      reinterpret_cast<GetLastErrorFn>(reinterpret_cast<void*>(GetProcAddress(module, "Quorvel_GetLastError")));
  exports->txt2xml =
      reinterpret_cast<Txt2XmlFn>(reinterpret_cast<void*>(GetProcAddress(module, "Quorvel_TXT2XML")));
  exports->xml2txt =
      reinterpret_cast<Xml2TxtFn>(reinterpret_cast<void*>(GetProcAddress(module, "Quorvel_XML2TXT")));
  exports->version = DllVersion(module);
  return exports->get_last_error && exports->txt2xml && exports->xml2txt;
}
#else
bool LoadExports(Exports* exports) {
  exports->get_last_error = Quorvel_GetLastError;
  exports->txt2xml = Quorvel_TXT2XML;
  exports->xml2txt = Quorvel_XML2TXT;
  exports->version = QUORVEL_VERSION;
  return true;
}
#endif

void Print(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

// A signed 32-bit decimal, whole text: no locale, no silent truncation.
bool ParseCode(std::string_view text, int32_t* code) {
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty() || text.size() > 10) return false;
  int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return false;
  *code = static_cast<int32_t>(value);
  return true;
}

int Usage() {
  Print(stderr, kUsage);
  return kExitUsage;
}

int ReportFailure(const Exports& lib) {
  char message[QUORVEL_BUFFER_SIZE];
  lib.get_last_error(message);
  Print(stderr, "quorvel: ");
  Print(stderr, message);
  Print(stderr, "\n");
  return kExitFailed;
}

int Txt2Xml(const Exports& lib, int argc, char** argv) {
  if (argc < 4) return Usage();
  int32_t code = 100;
  const char* nsr = "";
  const char* qymc = "";
  for (int i = 4; i < argc; i += 2) {
    const std::string_view option = argv[i];
    if (i + 1 >= argc) return Usage();
    if (option == "--type") {
      if (!ParseCode(argv[i + 1], &code)) return Usage();
    } else if (option == "--nsr") {
      nsr = argv[i + 1];
    } else if (option == "--qymc") {
      qymc = argv[i + 1];
    } else {
      return Usage();
    }
  }
  if (lib.txt2xml(argv[2], argv[3], code, nsr, qymc) != QUORVEL_RESULT_OK) {
    return ReportFailure(lib);
  }
  Print(stdout, "wrote ");
  Print(stdout, argv[3]);
  Print(stdout, "\n");
  return kExitOk;
}

int Xml2Txt(const Exports& lib, int argc, char** argv) {
  if (argc != 4) return Usage();
  int32_t rows = 0;
  char nsr[QUORVEL_BUFFER_SIZE] = "";
  char reserved[QUORVEL_BUFFER_SIZE] = "";
  const int32_t result = lib.xml2txt(argv[2], argv[3], 0, &rows, nsr, reserved);
  char message[QUORVEL_BUFFER_SIZE];
  lib.get_last_error(message);
  if (result != QUORVEL_RESULT_OK && message[0] != '\0') return ReportFailure(lib);
  // Both remaining outcomes have read every row: the count and nsr are set.
  Print(stdout, "rows: " + std::to_string(rows) + "\nnsr: ");
  Print(stdout, nsr);
  Print(stdout, "\n");
  if (result != QUORVEL_RESULT_OK) {
    Print(stderr,
          "quorvel: some rows lack one of their eleven values (dm, hm, gf, xf, kr, je, se, mw, "
          "sy, jg, rq); no output file was written\n");
    return kExitIncomplete;
  }
  Print(stdout, "wrote ");
  Print(stdout, argv[3]);
  Print(stdout, "\n");
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string_view command = argv[1];
  if (command == "--help" || command == "-h") {
    Print(stdout, kUsage);
    Print(stdout, kHelp);
    return kExitOk;
  }
  Exports lib;
  if (!LoadExports(&lib)) {
    Print(stderr, "quorvel: cannot load Quorvel.dll\n");
    return kExitFailed;
  }
  if (command == "--version") {
    Print(stdout, "quorvel " + lib.version + "\n");
    return kExitOk;
  }
  if (command == "txt2xml") return Txt2Xml(lib, argc, argv);
  if (command == "xml2txt") return Xml2Txt(lib, argc, argv);
  return Usage();
}
