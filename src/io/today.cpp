#include "io/today.h"

#include "platform/platform.h"

namespace quorvel {

NumberText TodayAsYyyymmdd() {
  const platform::LocalDate date = platform::Current().local_date();
  return FormatYyyymmdd(date.year, date.month, date.day);
}

}  // namespace quorvel
