// The rules that move the last backup time.
#include <gtest/gtest.h>

#include <cstdint>

#include "backup/Schedule.h"

using namespace vq;

TEST(FirstRun, TimesBackUpTheLastWeek) {
  FirstRunTimes t = FirstRunTimesAt(1800000000);
  EXPECT_EQ(t.timeLastBk, 1800000000 - 604800);
  EXPECT_EQ(t.dayly, 1800000000);
  EXPECT_EQ(t.weekly, 1800000000 - 86400);
  EXPECT_EQ(t.monthly, 1800000000 - 86400);
  EXPECT_EQ(t.yearly, 1800000000 - 86400);
}

TEST(CalendarForLog, UnconvertibleTimeShowsZerosAndMinusOnes) {
  CalendarTime c = CalendarForLog(INT64_MAX);
  EXPECT_EQ(c.year, 0);
  EXPECT_EQ(c.month, 0);
  EXPECT_EQ(c.day, 0);
  EXPECT_EQ(c.hour, -1);
  EXPECT_EQ(c.minute, -1);
  EXPECT_EQ(c.second, -1);
  CalendarTime ok = CalendarForLog(1609999684);  // 2021-01-07 UTC
  EXPECT_EQ(ok.year, 2021);
}

TEST(ResetRule, SpansAreWholeDaysBackAnd1980IsLocalMidnight) {
  const UnixTime now = 1800000000;
  EXPECT_EQ(ResetTimeFor(ResetKind::Day, now), now - 86400);
  EXPECT_EQ(ResetTimeFor(ResetKind::Week, now), now - 7 * 86400);
  EXPECT_EQ(ResetTimeFor(ResetKind::Month, now), now - 30 * 86400);
  EXPECT_EQ(ResetTimeFor(ResetKind::Year, now), now - 365 * 86400);
  CalendarTime c = CalendarForLog(ResetTimeFor(ResetKind::To1980, now));
  EXPECT_EQ(c.year, 1980);
  EXPECT_EQ(c.month, 1);
  EXPECT_EQ(c.day, 1);
  EXPECT_EQ(c.hour, 0);
  EXPECT_EQ(c.minute, 0);
  EXPECT_EQ(c.second, 0);
}
