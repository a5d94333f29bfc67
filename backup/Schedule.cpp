#include "backup/Schedule.h"

#include "backup/EngineState.h"
#include "platform/Clock.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"

namespace vq {

CalendarTime CalendarForLog(UnixTime t) {
  CalendarTime c;
  if (!platform::ToLocalCalendar(t, &c)) {
    c = CalendarTime{};
    c.hour = c.minute = c.second = -1;
  }
  return c;
}

FirstRunTimes FirstRunTimesAt(UnixTime now) {
  return FirstRunTimes{now - kSecondsPerWeek, now, now - kSecondsPerDay, now - kSecondsPerDay, now - kSecondsPerDay};
}

void ApplyFirstRunRule() {
  WriteLog(L"第一次运行，生成默认最后同步时间为一周前\r\n");
  FirstRunTimes t = FirstRunTimesAt(platform::Now());
  AppSettings.timeLastBk.store(t.timeLastBk);
  AppSettings.timeLastBkDayly.store(t.dayly);
  AppSettings.timeLastBkWeekly.store(t.weekly);
  AppSettings.timeLastBkMonthly.store(t.monthly);
  AppSettings.timeLastBkYearly.store(t.yearly);
  CalendarTime c = CalendarForLog(t.timeLastBk);
  WriteLog(L"make timeLastBk %d年%d月%d日 %d:%d:%d \r\n", c.year, c.month, c.day, c.hour, c.minute, c.second);
}

namespace {
std::atomic<bool> g_movedBack{false};
}  // namespace

void MoveLastBackupTime(UnixTime t) {
  SettingsStoreTransaction transaction;
  if (t < AppSettings.timeLastBk.exchange(t)) g_movedBack.store(true);
}

bool TakeLastBackupTimeMovedBack() { return g_movedBack.exchange(false); }

UnixTime ResetTimeFor(ResetKind kind, UnixTime now) {
  switch (kind) {
    case ResetKind::Day:
      return now - kSecondsPerDay;
    case ResetKind::Week:
      return now - kSecondsPerWeek;
    case ResetKind::Month:
      return now - kSecondsPerMonth;
    case ResetKind::Year:
      return now - kSecondsPerYear;
    case ResetKind::To1980:
      break;
  }
  CalendarTime c;
  c.year = 1980, c.month = 1, c.day = 1;
  UnixTime t = 0;
  if (!platform::FromLocalCalendar(c, &t)) t = 315532800;  // the UTC moment, should the zone be unknown
  return t;
}

void ApplyResetRule(ResetKind kind) {
  static const wchar_t* const kLines[] = {
      L"[重置最后备份时间为一天前]:make timeLastBk %d年%d月%d日 %d:%d:%d \r\n",
      L"[重置最后备份时间为一周前]:make timeLastBk %d年%d月%d日 %d:%d:%d \r\n",
      L"[重置最后备份时间为一月前]:make timeLastBk %d年%d月%d日 %d:%d:%d \r\n",
      L"[重置最后备份时间为一年前]:make timeLastBk %d年%d月%d日 %d:%d:%d \r\n",
      L"[重置最后备份时间为1980年1月1日]:make timeLastBk %d年%d月%d日 %d:%d:%d \r\n",
  };
  UnixTime t = ResetTimeFor(kind, platform::Now());
  MoveLastBackupTime(t);
  CalendarTime c = CalendarForLog(t);
  WriteLog(kLines[static_cast<int>(kind)], c.year, c.month, c.day, c.hour, c.minute, c.second);
  srcChanged.store(1);
}

int ScheduleCheck() {
  struct Period {
    std::atomic<int64_t>* time;
    int64_t seconds;
    const wchar_t* line;
  };
  const Period periods[] = {
      {&AppSettings.timeLastBkDayly, kSecondsPerDay, L"DAYLY[重置]:make timeLastBk %d年%d月%d日 %d:%d:%d \r\n"},
      {&AppSettings.timeLastBkWeekly, kSecondsPerWeek, L"WEEKLY[重置]:make timeLastBk %d年%d月%d日 %d:%d:%d \r\n"},
      {&AppSettings.timeLastBkMonthly, kSecondsPerMonth, L"MONTHLY[重置]:make timeLastBk %d年%d月%d日 %d:%d:%d \r\n"},
      {&AppSettings.timeLastBkYearly, kSecondsPerYear, L"YEARLY[重置]:make timeLastBk %d年%d月%d日 %d:%d:%d \r\n"},
  };
  int fired = 0;
  for (const Period& p : periods) {
    UnixTime now = platform::Now();
    if (now - p.time->load() > p.seconds) {
      UnixTime t = now - p.seconds;
      MoveLastBackupTime(t);
      p.time->store(platform::Now());
      CalendarTime c = CalendarForLog(t);
      WriteLog(p.line, c.year, c.month, c.day, c.hour, c.minute, c.second);
      ++fired;
    }
  }
  if (fired) srcChanged.store(1);
  return fired;
}

int ScheduleThreadStep(const EngineServices& services) {
  services.clock.SleepMs(1200);
  return ScheduleCheck();
}

void ScheduleThreadFun(const EngineServices& services) {
  for (;;) ScheduleThreadStep(services);
}

void ScheduleThreadFun() { ScheduleThreadFun(RealEngineServices()); }

}  // namespace vq
