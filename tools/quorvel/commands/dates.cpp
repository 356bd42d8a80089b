// The document's date as the user gives it: --date, or SOURCE_DATE_EPOCH.
#include "commands/options.h"

namespace quorvel::cli {
namespace {

bool LeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && LeapYear(year) ? 29 : kDays[month - 1];
}

// The digits of `text` as a number; false for anything else or an empty text.
bool Digits(std::string_view text, std::int64_t* value) {
  if (text.empty() || text.size() > 18) return false;
  *value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    *value = *value * 10 + (c - '0');
  }
  return true;
}

}  // namespace

bool ParseDate(std::string_view text, Date* date) {
  std::int64_t year = 0;
  std::int64_t month = 0;
  std::int64_t day = 0;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !Digits(text.substr(0, 4), &year) ||
      !Digits(text.substr(5, 2), &month) || !Digits(text.substr(8, 2), &day)) {
    return false;
  }
  if (year < 1 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(static_cast<int>(year), static_cast<int>(month))) {
    return false;
  }
  *date = {static_cast<int>(year), static_cast<int>(month), static_cast<int>(day)};
  return true;
}

bool DateOfEpoch(std::string_view seconds, Date* date) {
  std::int64_t value = 0;
  // 253402300799: 9999-12-31 23:59:59 UTC.
  if (!Digits(seconds, &value) || value > 253402300799) return false;
  // Days since 1970-01-01 to a civil date (Howard Hinnant's algorithm).
  const std::int64_t days = value / 86400 + 719468;
  const std::int64_t era = days / 146097;
  const std::int64_t of_era = days - era * 146097;
  const std::int64_t year_of_era =
      (of_era - of_era / 1460 + of_era / 36524 - of_era / 146096) / 365;
  const std::int64_t day_of_year =
      of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t shifted_month = (5 * day_of_year + 2) / 153;
  const std::int64_t day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  const std::int64_t month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
  const std::int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  *date = {static_cast<int>(year), static_cast<int>(month), static_cast<int>(day)};
  return true;
}

}  // namespace quorvel::cli
