// The system's code page conversions, through UTF-16. MB_ERR_INVALID_CHARS
// refuses bytes that are not valid in the source code page;
// WC_NO_BEST_FIT_CHARS with the used-default flag refuses a character that
// has no exact form in the target code page instead of approximating it.
// The functions say only that a conversion failed, not where: the place is
// then found by converting one character at a time.
#include <windows.h>

#include <climits>

#include "charset/charset.h"
#include "charset/utf8.h"

namespace quorvel::cli {
namespace {

constexpr UINT kGbkCodePage = 936;

// Windows' table for code page 936 pairs byte 0xFF, which is not GBK, with
// the private-use character U+F8F5 (some versions even with
// MB_ERR_INVALID_CHARS): neither crosses.
constexpr wchar_t kNotGbk = 0xF8F5;

// The code page by number: the system's ANSI code page as GetACP gives it,
// not CP_ACP, so that where it is UTF-8 (65001) the UTF-8 path is taken:
// WideCharToMultiByte refuses the flags for exact conversion there.
UINT CodePage(Charset charset) {
  switch (charset) {
    case Charset::kGbk:
      return kGbkCodePage;
    case Charset::kUtf8:
      return CP_UTF8;
    case Charset::kAnsi:
    case Charset::kUtf16Le:  // (read by Utf16ToWide instead)
    case Charset::kUtf16Be:
      return GetACP();
  }
  return GetACP();
}

bool HoldsNotGbk(UINT code_page, std::wstring_view wide) {
  return code_page == kGbkCodePage && wide.find(kNotGbk) != std::wstring_view::npos;
}

bool ToWide(UINT code_page, std::string_view in, std::wstring* wide) {
  if (in.size() > INT_MAX / 2) return false;
  const int size = static_cast<int>(in.size());
  const int count =
      MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, in.data(), size, nullptr, 0);
  if (count <= 0) return false;
  wide->resize(static_cast<std::size_t>(count));
  return MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, in.data(), size, wide->data(),
                             count) == count &&
         !HoldsNotGbk(code_page, *wide);
}

// Appends `wide` in `code_page`; false when a character has no exact form.
bool FromWide(UINT code_page, std::wstring_view wide, std::string* out) {
  if (wide.size() > INT_MAX / 4 || HoldsNotGbk(code_page, wide)) return false;
  const int size = static_cast<int>(wide.size());
  const bool utf8 = code_page == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL used_default = FALSE;
  BOOL* used = utf8 ? nullptr : &used_default;
  const int count =
      WideCharToMultiByte(code_page, flags, wide.data(), size, nullptr, 0, nullptr, used);
  if (count <= 0 || used_default) return false;
  const std::size_t at = out->size();
  out->resize(at + static_cast<std::size_t>(count));
  const int written = WideCharToMultiByte(code_page, flags, wide.data(), size, out->data() + at,
                                          count, nullptr, used);
  return written == count && !used_default;
}

// The offset of the first character of `in` that is not valid in
// `code_page`, one character at a time (lead bytes as the system knows them).
std::size_t FindInvalid(UINT code_page, std::string_view in) {
  if (code_page == CP_UTF8) {
    const std::size_t at = FindInvalidUtf8(in);
    return at == std::string_view::npos ? 0 : at;
  }
  std::wstring scratch;
  std::size_t at = 0;
  while (at < in.size()) {
    const std::size_t size = IsDBCSLeadByteEx(code_page, static_cast<BYTE>(in[at])) ? 2 : 1;
    if (at + size > in.size() || !ToWide(code_page, in.substr(at, size), &scratch)) return at;
    at += size;
  }
  return 0;
}

// The index of the first character (a surrogate pair counting as one) of
// `wide` that has no form in `code_page`.
std::size_t FindUnmappable(UINT code_page, std::wstring_view wide) {
  std::string scratch;
  std::size_t index = 0;
  for (std::size_t at = 0; at < wide.size(); ++index) {
    const bool pair =
        IS_HIGH_SURROGATE(wide[at]) && at + 1 < wide.size() && IS_LOW_SURROGATE(wide[at + 1]);
    const std::size_t size = pair ? 2 : 1;
    if (!FromWide(code_page, wide.substr(at, size), &scratch)) return index;
    at += size;
  }
  return 0;
}

// The offset in `in` (valid in `code_page`) of character `index`.
std::size_t OffsetOfIndex(UINT code_page, std::string_view in, std::size_t index) {
  if (code_page == CP_UTF8) return OffsetOfCharacter(in, index);
  std::size_t at = 0;
  for (std::size_t i = 0; i < index && at < in.size(); ++i) {
    at += IsDBCSLeadByteEx(code_page, static_cast<BYTE>(in[at])) ? 2 : 1;
  }
  return at;
}

// UTF-16 bytes as the system's wide characters; false, with the offset of
// the first unit that begins no character, for a lone surrogate or a unit
// cut short.
bool Utf16ToWide(std::string_view in, bool big_endian, std::wstring* wide, std::size_t* bad) {
  for (std::size_t at = 0; at < in.size();) {
    const Utf16Char c = DecodeUtf16(in.substr(at), big_endian);
    if (c.size == 0) {
      *bad = at;
      return false;
    }
    if (c.code > 0xFFFF) {
      wide->push_back(static_cast<wchar_t>(0xD800 + ((c.code - 0x10000) >> 10)));
      wide->push_back(static_cast<wchar_t>(0xDC00 + ((c.code - 0x10000) & 0x3FF)));
    } else {
      wide->push_back(static_cast<wchar_t>(c.code));
    }
    at += c.size;
  }
  return true;
}

// The byte offset in UTF-16 `wide` of character `index`.
std::size_t Utf16OffsetOfIndex(std::wstring_view wide, std::size_t index) {
  std::size_t at = 0;
  for (std::size_t i = 0; i < index && at < wide.size(); ++i) {
    at += IS_HIGH_SURROGATE(wide[at]) ? 2 : 1;
  }
  return 2 * at;
}

}  // namespace

Converter::Converter(Charset from, Charset to) : from_(from), to_(to) {}

Converter::~Converter() = default;

bool Converter::ok() const { return true; }

bool Converter::Append(std::string_view in, std::string* out, std::size_t* bad) {
  if (in.empty()) return true;
  const UINT from = CodePage(from_);
  std::wstring wide;
  if (IsUtf16(from_)) {
    if (!Utf16ToWide(in, from_ == Charset::kUtf16Be, &wide, bad)) return false;
  } else if (!ToWide(from, in, &wide)) {
    *bad = FindInvalid(from, in);
    return false;
  }
  const UINT to = CodePage(to_);
  if (FromWide(to, wide, out)) return true;
  // Every character of `in` was valid and gave one UTF-16 character (a
  // surrogate pair for one beyond U+FFFF), so its index places it in `in`.
  const std::size_t index = FindUnmappable(to, wide);
  *bad = IsUtf16(from_) ? Utf16OffsetOfIndex(wide, index) : OffsetOfIndex(from, in, index);
  return false;
}

}  // namespace quorvel::cli
