// The clock seam: every read of "now", every local-time conversion and every sleep of the engine
// goes through here, so tests can set the time instead of waiting for it.
#pragma once

#include <cstdint>

#include "common/Calendar.h"

namespace vq::platform {

UnixTime Now();
// Milliseconds since an arbitrary start, wrapping at 2^32 like the Windows tick count.
uint32_t TickCount();
void SleepMs(uint32_t ms);

// Converts to local calendar fields; false when the moment cannot be represented.
bool ToLocalCalendar(UnixTime t, CalendarTime* out);
// The current local calendar time with milliseconds.
CalendarTime LocalNow();
// Local calendar fields to a moment (the platform decides daylight saving); false on failure.
bool FromLocalCalendar(const CalendarTime& c, UnixTime* out);

// Test seam: when set, Now() returns this instead of the system clock.
void SetNowForTest(UnixTime t);
void ClearNowForTest();

// The clock as a service the engine threads receive: their waits go through it, so a test's
// clock can count the waits and move time on instead of sleeping.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual UnixTime Now() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
};
// The system's clock (Now and SleepMs above).
Clock& RealClock();

}  // namespace vq::platform
