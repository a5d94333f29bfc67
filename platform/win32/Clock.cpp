#include "platform/Clock.h"

#include <windows.h>

#include <atomic>
#include <ctime>

namespace vq::platform {

namespace {
std::atomic<bool> g_nowSet{false};
std::atomic<int64_t> g_now{0};

constexpr int64_t kEpochDiff = 116444736000000000LL;

FILETIME ToFileTime(UnixTime t) {
  uint64_t v = static_cast<uint64_t>(t * 10000000LL + kEpochDiff);
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(v);
  ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
  return ft;
}

void Fill(const SYSTEMTIME& st, CalendarTime* out) {
  out->year = st.wYear;
  out->month = st.wMonth;
  out->day = st.wDay;
  out->hour = st.wHour;
  out->minute = st.wMinute;
  out->second = st.wSecond;
  out->weekday = st.wDayOfWeek;
  out->millisecond = st.wMilliseconds;
}
}  // namespace

UnixTime Now() {
  if (g_nowSet.load()) return g_now.load();
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  int64_t v = static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  return (v - kEpochDiff) / 10000000LL;
}

void SetNowForTest(UnixTime t) {
  g_now.store(t);
  g_nowSet.store(true);
}
void ClearNowForTest() { g_nowSet.store(false); }

uint32_t TickCount() { return GetTickCount(); }
void SleepMs(uint32_t ms) { Sleep(ms); }

bool ToLocalCalendar(UnixTime t, CalendarTime* out) {
  // Valid FILETIME range only; beyond it the conversion fails as the C runtime's would.
  if (t < -11644473600LL || t > 910692730085LL) return false;
  FILETIME ft = ToFileTime(t);
  SYSTEMTIME utc, local;
  if (!FileTimeToSystemTime(&ft, &utc)) return false;
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return false;
  Fill(local, out);
  return true;
}

CalendarTime LocalNow() {
  CalendarTime c;
  if (g_nowSet.load()) {
    ToLocalCalendar(g_now.load(), &c);
    return c;
  }
  SYSTEMTIME st;
  GetLocalTime(&st);
  Fill(st, &c);
  return c;
}

bool FromLocalCalendar(const CalendarTime& c, UnixTime* out) {
  SYSTEMTIME local = {};
  local.wYear = static_cast<WORD>(c.year);
  local.wMonth = static_cast<WORD>(c.month);
  local.wDay = static_cast<WORD>(c.day);
  local.wHour = static_cast<WORD>(c.hour);
  local.wMinute = static_cast<WORD>(c.minute);
  local.wSecond = static_cast<WORD>(c.second);
  SYSTEMTIME utc;
  if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc)) return false;
  FILETIME ft;
  if (!SystemTimeToFileTime(&utc, &ft)) return false;
  int64_t v = static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  *out = (v - kEpochDiff) / 10000000LL;
  return true;
}

}  // namespace vq::platform
