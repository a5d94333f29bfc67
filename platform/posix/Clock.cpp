#include "platform/Clock.h"

#include <time.h>

#include <atomic>

namespace vq::platform {

namespace {
std::atomic<bool> g_nowSet{false};
std::atomic<int64_t> g_now{0};
}  // namespace

UnixTime Now() {
  if (g_nowSet.load()) return g_now.load();
  return static_cast<UnixTime>(time(nullptr));
}

void SetNowForTest(UnixTime t) {
  g_now.store(t);
  g_nowSet.store(true);
}
void ClearNowForTest() { g_nowSet.store(false); }

uint32_t TickCount() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void SleepMs(uint32_t ms) {
  struct timespec ts;
  ts.tv_sec = ms / 1000;
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0) {
  }
}

static void Fill(const struct tm& tm, CalendarTime* out) {
  out->year = tm.tm_year + 1900;
  out->month = tm.tm_mon + 1;
  out->day = tm.tm_mday;
  out->hour = tm.tm_hour;
  out->minute = tm.tm_min;
  out->second = tm.tm_sec;
  out->weekday = tm.tm_wday;
  out->millisecond = 0;
}

bool ToLocalCalendar(UnixTime t, CalendarTime* out) {
  time_t tt = static_cast<time_t>(t);
  if (static_cast<UnixTime>(tt) != t) return false;
  struct tm tm;
  if (!localtime_r(&tt, &tm)) return false;
  Fill(tm, out);
  return true;
}

CalendarTime LocalNow() {
  CalendarTime c;
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  time_t tt = g_nowSet.load() ? static_cast<time_t>(g_now.load()) : ts.tv_sec;
  struct tm tm;
  if (localtime_r(&tt, &tm)) Fill(tm, &c);
  c.millisecond = static_cast<int>(ts.tv_nsec / 1000000L);
  return c;
}

bool FromLocalCalendar(const CalendarTime& c, UnixTime* out) {
  struct tm tm = {};
  tm.tm_year = c.year - 1900;
  tm.tm_mon = c.month - 1;
  tm.tm_mday = c.day;
  tm.tm_hour = c.hour;
  tm.tm_min = c.minute;
  tm.tm_sec = c.second;
  tm.tm_isdst = -1;
  time_t t = mktime(&tm);
  if (t == static_cast<time_t>(-1) && !(c.year == 1969 && c.month == 12 && c.day == 31)) return false;
  *out = static_cast<UnixTime>(t);
  return true;
}

}  // namespace vq::platform
