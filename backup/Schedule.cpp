#include "backup/Schedule.h"

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

}  // namespace vq
