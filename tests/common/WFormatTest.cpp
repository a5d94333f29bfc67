#include "common/WFormat.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

using vq::WFormat;

TEST(WFormat, LogFormatsAsTheLogWritesThem) {
  EXPECT_EQ(WFormat(L"[%04d.%02d.%02d-%02d:%02d:%02d]:", 2021, 1, 7, 10, 8, 4), L"[2021.01.07-10:08:04]:");
  EXPECT_EQ(WFormat(L"%d年%d月%d日 %d:%d:%d", 2021, 1, 7, 0, 8, 4), L"2021年1月7日 0:8:4");
  EXPECT_EQ(WFormat(L"ZipAdd 1 失败[%lu] [%s] \r\n", 512u, std::wstring(L"C:\\数据\\a.txt")),
            L"ZipAdd 1 失败[512] [C:\\数据\\a.txt] \r\n");
  EXPECT_EQ(WFormat(L"%I64d", INT64_MIN), L"-9223372036854775808");
  EXPECT_EQ(WFormat(L"%I64d", int64_t{1796149603}), L"1796149603");
  EXPECT_EQ(WFormat(L"%I64u", UINT64_MAX), L"18446744073709551615");
  EXPECT_EQ(WFormat(L"100%%"), L"100%");
}

TEST(WFormat, WideAndNarrowStringsFollowTheWindowsConvention) {
  const wchar_t* w = L"宽";
  const char* n = "narrow";
  EXPECT_EQ(WFormat(L"%s|%S", w, n), L"宽|narrow");
  EXPECT_EQ(WFormat(L"%S", std::string("\xE4\xB8\xAD")), L"中");  // UTF-8 in, wide out
  EXPECT_EQ(WFormat(L"[%5s][%-5s][%.2s]", L"ab", L"ab", L"abcdef"), L"[   ab][ab   ][ab]");
  EXPECT_EQ(WFormat(L"%s", static_cast<const wchar_t*>(nullptr)), L"(null)");
  EXPECT_EQ(WFormat(L"%c%c", L'中', 'a'), L"中a");
}

TEST(WFormat, IntegersWidthsFlagsAndBases) {
  EXPECT_EQ(WFormat(L"%5d|%-5d|%05d|%+d|% d", 42, 42, -42, 42, 42), L"   42|42   |-0042|+42| 42");
  EXPECT_EQ(WFormat(L"%x %X %#x %o", 255u, 255u, 255u, 8u), L"ff FF 0xff 10");
  EXPECT_EQ(WFormat(L"%u", -1), L"4294967295");  // an int's own width, as the C library prints it
  EXPECT_EQ(WFormat(L"%.3d", 7), L"007");
  EXPECT_EQ(WFormat(L"%*d|%-*d", 4, 1, 3, 2), L"   1|2  ");
  EXPECT_EQ(WFormat(L"%d", INT_MIN), L"-2147483648");
  EXPECT_EQ(WFormat(L"%d", true), L"1");
}

TEST(WFormat, PointersAndFloats) {
  EXPECT_EQ(WFormat(L"%p", reinterpret_cast<void*>(0x1234)).size(), sizeof(void*) * 2);
  EXPECT_EQ(WFormat(L"%.2f", 3.14159), L"3.14");
}

TEST(WFormat, MismatchesShowAVisibleMarkerInsteadOfReadingGarbage) {
  EXPECT_EQ(WFormat(L"%d", L"text"), L"%!d(wstring)");
  EXPECT_EQ(WFormat(L"%s", 5), L"%!s(int)");
  EXPECT_EQ(WFormat(L"%s", "narrow"), L"%!s(string)");
  EXPECT_EQ(WFormat(L"%d and %d", 1), L"1 and %!d(missing)");
  EXPECT_EQ(WFormat(L"%q", 1), L"%!q(bad)");
  EXPECT_EQ(WFormat(L"tail %"), L"tail %");
}
