// Working directories and the names of the three archives of a file.
#include <gtest/gtest.h>

#include "backup/WorkDirs.h"
#include "platform/File.h"
#include "platform/Paths.h"
#include "settings/AppSettings.h"
#include "tests/support/SettingsGuard.h"
#include "tests/support/TestSupport.h"

using namespace vq;

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
  vqtest::SettingsGuard keep;
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
