// ParseInt32 and ParseInt64 against a small independent reference (digits
// counted first, then the magnitude checked against the range), and the
// formats back again.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "common/failure.h"
#include "text/numbers.h"

namespace {

void Check(bool condition, const char* what, std::string_view text) {
  if (!condition) {
    std::fprintf(stderr, "numbers_fuzz: %s for [%.*s]\n", what, static_cast<int>(text.size()),
                 text.data());
    __builtin_trap();
  }
}

// At most 19 significant decimal or 16 hexadecimal digits: always fits.
using Wide = uint64_t;

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int HexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

// Digits (all of the given kind, at least one) as a wide value; false when
// more significant digits than `max_significant`.
bool Digits(std::string_view d, bool hex, int max_significant, Wide* value) {
  if (d.empty()) return false;
  for (char c : d) {
    if (hex ? !IsHex(c) : !(c >= '0' && c <= '9')) return false;
  }
  std::size_t first = d.find_first_not_of('0');
  std::string_view significant = first == std::string_view::npos ? "" : d.substr(first);
  if (static_cast<int>(significant.size()) > max_significant) return false;
  Wide v = 0;
  for (char c : significant) v = v * (hex ? 16 : 10) + (hex ? HexValue(c) : c - '0');
  *value = v;
  return true;
}

bool Ref64(std::string_view t, int64_t* out) {
  std::size_t i = t.find_first_not_of(' ');
  if (i == std::string_view::npos) return false;
  bool negative = false;
  if (t[i] == '-' || t[i] == '+') negative = t[i++] == '-';
  bool hex = false;
  if (i < t.size() && t[i] == '$') {
    hex = true;
    i += 1;
  } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  Wide v;
  if (!Digits(t.substr(i), hex, hex ? 16 : 19, &v)) return false;
  if (hex) {
    *out = static_cast<int64_t>(negative ? 0 - v : v);
    return true;
  }
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  if (v > limit) return false;
  *out = static_cast<int64_t>(negative ? 0 - v : v);
  return true;
}

bool Ref32(std::string_view t, int32_t* out) {
  std::size_t i = t.find_first_not_of(' ');
  if (i == std::string_view::npos) return false;
  Wide v;
  bool negative = false;
  if (t[i] == '-' || t[i] == '+') {
    if (!Digits(t.substr(i + 1), false, 10, &v)) return false;
    negative = t[i] == '-';
  } else if (t[i] == '$' || t[i] == 'x' || t[i] == 'X' ||
             (t[i] == '0' && i + 1 < t.size() && (t[i + 1] == 'x' || t[i + 1] == 'X'))) {
    const std::size_t skip = t[i] == '0' ? 2 : 1;
    if (!Digits(t.substr(i + skip), true, 8, &v)) return false;
    *out = static_cast<int32_t>(static_cast<uint32_t>(v));
    return true;
  } else if (!Digits(t.substr(i), false, 10, &v)) {
    return false;
  }
  if (v > (negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1)) return false;
  *out = static_cast<int32_t>(static_cast<uint32_t>(negative ? 0 - v : v));
  return true;
}

template <typename T, typename Parse>
bool Parses(Parse parse, std::string_view text, T* value) {
  try {
    *value = parse(text);
    return true;
  } catch (const quorvel::Failure& f) {
    std::string expected(1, '\'');
    expected.append(text).append("' is not a valid integer value");
    Check(f.message() == expected, "message", text);
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  int64_t got64 = 0, want64 = 0;
  const bool ok64 = Parses(quorvel::ParseInt64, text, &got64);
  Check(ok64 == Ref64(text, &want64), "ParseInt64 acceptance", text);
  if (ok64) {
    Check(got64 == want64, "ParseInt64 value", text);
    const std::string decimal(quorvel::FormatDecimal(got64).view());
    Check(quorvel::ParseInt64(decimal) == got64, "FormatDecimal round trip", text);
    std::string hex(1, '$');
    hex.append(quorvel::FormatHex64(got64, 16).view());
    Check(hex.size() == 17 && quorvel::ParseInt64(hex) == got64, "FormatHex64 round trip", text);
  }
  // A returned row's sy: what ParseInt64 gives for "$" and the text, in decimal.
  int64_t want_hex = 0;
  std::string dollar(1, '$');
  dollar.append(text);
  quorvel::NumberText decimal;
  const bool hex_ok = quorvel::HexToDecimal(text, decimal);
  Check(hex_ok == Ref64(dollar, &want_hex), "HexToDecimal acceptance", text);
  if (hex_ok) {
    Check(decimal.view() == quorvel::FormatDecimal(want_hex).view(), "HexToDecimal value", text);
  }
  int32_t got32 = 0, want32 = 0;
  const bool ok32 = Parses(quorvel::ParseInt32, text, &got32);
  Check(ok32 == Ref32(text, &want32), "ParseInt32 acceptance", text);
  if (ok32) Check(got32 == want32, "ParseInt32 value", text);
  return 0;
}
