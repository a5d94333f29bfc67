// The rules that move the last backup time.
#pragma once

#include <cstdint>
#include <string>

#include "common/Calendar.h"

namespace vq {

inline constexpr int64_t kSecondsPerDay = 86400;
inline constexpr int64_t kSecondsPerWeek = 604800;

// Local calendar fields of t for a log line; when t cannot be converted the line shows 0 for
// year, month and day and -1 for hour, minute and second.
CalendarTime CalendarForLog(UnixTime t);

struct FirstRunTimes {
  int64_t timeLastBk, dayly, weekly, monthly, yearly;
};
// The times of a first run at the moment now: the first pass backs up the last week.
FirstRunTimes FirstRunTimesAt(UnixTime now);

// Applies the first-run times to the settings and writes their two log lines.
void ApplyFirstRunRule();

}  // namespace vq
