// The system's iconv. Its "GBK" (glibc's "CP936" is the same table) is
// Windows code page 936, single-byte 0x80 (the euro sign) included, less the
// 2149 double-byte codes that Windows maps to private-use characters
// (U+E000-U+E864): the user-defined areas AAA1-AFFE, F8A1-FEFE and A140-A7A0,
// FE50-FEA0, and unassigned places among the symbols and at D7FA-D7FE. Those
// are refused here, where quorvel.exe converts them. No iconv table is code
// page 936 exactly: "GB18030" gives 106 of those codes standard characters
// instead (A2E3 is U+20AC there), refuses 0x80, and has four-byte forms.
#include <iconv.h>

#include <cerrno>

#include "charset/charset.h"

namespace quorvel::cli {
namespace {

const char* IconvName(Charset charset) {
  switch (charset) {
    case Charset::kGbk:
      return "GBK";
    case Charset::kUtf8:
      return "UTF-8";
    case Charset::kAnsi:
      return nullptr;  // file names are bytes here
    case Charset::kUtf16Le:
      return "UTF-16LE";
    case Charset::kUtf16Be:
      return "UTF-16BE";
  }
  return nullptr;
}

iconv_t Descriptor(void* state) { return static_cast<iconv_t>(state); }

}  // namespace

Converter::Converter(Charset from, Charset to) : from_(from), to_(to) {
  const char* from_name = IconvName(from);
  const char* to_name = IconvName(to);
  if (from_name == nullptr || to_name == nullptr) return;
  const iconv_t descriptor = iconv_open(to_name, from_name);
  if (descriptor != reinterpret_cast<iconv_t>(-1)) state_ = descriptor;
}

Converter::~Converter() {
  if (state_ != nullptr) iconv_close(Descriptor(state_));
}

bool Converter::ok() const { return state_ != nullptr; }

bool Converter::Append(std::string_view in, std::string* out, std::size_t* bad) {
  if (in.empty()) return true;
  if (state_ == nullptr) {
    *bad = 0;
    return false;
  }
  iconv(Descriptor(state_), nullptr, nullptr, nullptr, nullptr);
  char* source = const_cast<char*>(in.data());
  std::size_t source_left = in.size();
  std::size_t used = out->size();
  while (source_left > 0) {
    // One GBK byte can become three UTF-8 bytes (0x80 is U+20AC), but the
    // room grows a bounded step at a time (iconv stops with E2BIG where it
    // ends): a long line takes what it converts to, not three times its size,
    // and no size is multiplied.
    constexpr std::size_t kStep = std::size_t{1} << 16;
    out->resize(used + (source_left < kStep / 3 ? 3 * source_left + 16 : kStep));
    char* target = out->data() + used;
    std::size_t target_left = out->size() - used;
    const std::size_t result =
        iconv(Descriptor(state_), &source, &source_left, &target, &target_left);
    used = out->size() - target_left;
    if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
      out->resize(used);
      *bad = in.size() - source_left;
      return false;
    }
  }
  out->resize(used);
  return true;
}

}  // namespace quorvel::cli
