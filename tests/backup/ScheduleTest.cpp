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
