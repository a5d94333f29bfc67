// Local calendar fields of a moment, as the log lines and archive names show them.
#pragma once

#include <cstdint>

namespace vq {

struct CalendarTime {
  int year = 0;     // e.g. 2026
  int month = 0;    // 1..12
  int day = 0;      // 1..31
  int hour = 0;     // 0..23
  int minute = 0;   // 0..59
  int second = 0;   // 0..60
  int weekday = 0;  // 0 = Sunday
  int millisecond = 0;
};

// Seconds since 1970-01-01 00:00 UTC.
using UnixTime = int64_t;

}  // namespace vq
