// Today's date for the document header.
#ifndef QUORVEL_IO_TODAY_H
#define QUORVEL_IO_TODAY_H

#include "text/numbers.h"

namespace quorvel {

// Today's local date as "yyyymmdd". The platform layer supplies the date (and
// tests pin it there); the formatting is FormatYyyymmdd's.
NumberText TodayAsYyyymmdd();

}  // namespace quorvel

#endif  // QUORVEL_IO_TODAY_H
