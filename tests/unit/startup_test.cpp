// Decisions of the start-up and of the working directories, apart from their effects.
#include <gtest/gtest.h>

#include "app/Startup.h"
#include "backup/Schedule.h"
#include "backup/WorkDirs.h"
#include "platform/File.h"
#include "settings/AppSettings.h"
#include "test_support.h"

using namespace vq;

TEST(DefaultDirs, WindowsFormUsesTheDriveOfTheDocumentsFolder) {
  DefaultDirs d = ComputeDefaultDirs(L"D:\\Users\\li\\Documents", L"C:\\Users\\li", L"C:\\p\\", true);
  EXPECT_EQ(d.src, L"D:\\Users\\li\\Documents\\");
  EXPECT_EQ(d.dest, L"D:\\vq.l\\");
  EXPECT_FALSE(d.fallback);
  EXPECT_EQ(ComputeDefaultDirs(L"E:\\", L"", L"", true).src, L"E:\\") << "no second backslash";
}

TEST(DefaultDirs, DocumentsOnAShareStillGiveADrivePath) {
  DefaultDirs d = ComputeDefaultDirs(L"\\\\server\\home\\docs", L"C:\\Users\\li", L"C:\\p\\", true);
  EXPECT_EQ(d.src, L"\\\\server\\home\\docs\\");
  ASSERT_EQ(d.dest.size(), 8u);
  EXPECT_TRUE(iswalpha(d.dest[0]));
  EXPECT_EQ(d.dest.substr(1), L":\\vq.l\\");
}

TEST(DefaultDirs, UnknownDocumentsFolderFallsBackAndIsNeverEmpty) {
  DefaultDirs d = ComputeDefaultDirs(L"", L"C:\\Users\\li", L"C:\\p\\", true);
  EXPECT_TRUE(d.fallback);
  EXPECT_EQ(d.src, L"C:\\Users\\li\\");
  EXPECT_EQ(d.dest, L"C:\\vq.l\\");
  DefaultDirs p = ComputeDefaultDirs(L"", L"", L"/opt/vq/", false);
  EXPECT_EQ(p.src, L"/opt/vq/");
  EXPECT_FALSE(p.dest.empty());
  DefaultDirs x = ComputeDefaultDirs(L"/home/li/Documents", L"/home/li", L"/opt/vq/", false);
  EXPECT_EQ(x.src, L"/home/li/Documents/");
  EXPECT_EQ(x.dest, L"/home/li/vq.l/");
}

TEST(RestartCommandLine, WordAnywhereExactCase) {
  EXPECT_TRUE(IsRestartCommandLine(L"\"C:\\p\\vq.lumen.exe\"  restart "));
  EXPECT_TRUE(IsRestartCommandLine(L"C:\\restarter\\vq.lumen.exe"));
  EXPECT_FALSE(IsRestartCommandLine(L"vq.lumen.exe RESTART"));
}

TEST(BuildTimeLine, ShowsTheBuildMomentInTheLogsDateForm) {
  EXPECT_EQ(BuildTimeLine("Jan  7 2021", "10:08:04"), L"vq.lumen 编译时间:2021年1月7日 10:8:4\r\n");
  EXPECT_EQ(BuildTimeLine("Dec 25 2026", "23:59:59"), L"vq.lumen 编译时间:2026年12月25日 23:59:59\r\n");
}

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

TEST(WorkDirs, ViewsAreJoinedToTheDestinationAsTheyStand) {
  WorkDirs w = ComputeWorkDirs(L"D:\\vq.l\\", L"C:\\Temp\\", L'\\');
  EXPECT_EQ(w.temp, L"C:\\Temp\\");
  EXPECT_EQ(w.list, L"D:\\vq.l\\mList\\");
  EXPECT_EQ(w.history, L"D:\\vq.l\\mHistory\\");
  EXPECT_EQ(w.folder, L"D:\\vq.l\\mScDir\\");
  WorkDirs f = ComputeWorkDirs(L"D:/backup/", L"", L'\\');
  EXPECT_EQ(f.list, L"D:/backup/mList\\");
  EXPECT_EQ(f.temp, L"D:/backup/") << "an unusable temporary path falls back to the destination";
}

TEST(WorkDirs, ArchiveNamesOfTheThreeViews) {
  WorkDirs w = ComputeWorkDirs(L"D:\\vq.l\\", L"C:\\Temp\\", L'\\');
  CalendarTime t;
  t.year = 2021, t.month = 1, t.day = 7, t.hour = 10, t.minute = 8, t.second = 4;
  ArchivePaths a = ArchivePathsFor(w, L"C:\\data\\sub\\report.docx", L"report.docx", t, 3);
  EXPECT_EQ(a.list, L"D:\\vq.l\\mList\\C..data.sub.report.docx.zip");
  EXPECT_EQ(a.history, L"D:\\vq.l\\mHistory\\C..data.sub.report.docx.2021.01.07.10.08.04.zip");
  EXPECT_EQ(a.folder, L"D:\\vq.l\\mScDir\\data\\sub\\report.docx.zip");
  EXPECT_EQ(a.tempCopy, L"C:\\Temp\\report.docx.temp");
  ArchivePaths p = ArchivePathsFor(ComputeWorkDirs(L"/b/", L"/tmp/", L'/'), L"/home/li/a.txt", L"a.txt", t, 1);
  EXPECT_EQ(p.list, L"/b/mList/.home.li.a.txt.zip");
  EXPECT_EQ(p.folder, L"/b/mScDir/home/li/a.txt.zip");
}

TEST(WorkDirs, CreateMakesAllSixWithParents) {
  std::wstring root = vqtest::MakeScratchDir(L"workdirs");
  wchar_t sep = platform::PathSeparator();
  AppSettings.S_DIR_DESTDATA.Set(root + L"dest" + sep + L"deep" + sep);
  AppSettings.S_DIR_SRCDATA.Set(root + L"src" + sep + L"a" + sep);
  InitWorkDirs();
  CreateWorkDirs();
  EXPECT_TRUE(platform::IsDirectory(AppSettings.S_DIR_ST_LIST.Get()));
  EXPECT_TRUE(platform::IsDirectory(AppSettings.S_DIR_ST_HIST.Get()));
  EXPECT_TRUE(platform::IsDirectory(AppSettings.S_DIR_ST_DIR.Get()));
  EXPECT_TRUE(platform::IsDirectory(AppSettings.S_DIR_SRCDATA.Get()));
  EXPECT_TRUE(platform::IsDirectory(AppSettings.S_DIR_TEMP.Get()));
  EXPECT_EQ(AppSettings.S_DIR_ST_HIST.Get(), root + L"dest" + sep + L"deep" + sep + L"mHistory" + sep);
  CreateWorkDirs();  // existing directories are no error
  EXPECT_TRUE(platform::IsDirectory(AppSettings.S_DIR_ST_DIR.Get()));
}
