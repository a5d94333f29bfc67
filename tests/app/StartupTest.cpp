// Decisions of the start-up and of the working directories, apart from their effects.
#include <gtest/gtest.h>

#include "app/Startup.h"

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
