// The terminal's restore commands: how a typed line is split, which lines are theirs, and that a
// line that does not fit gets its usage instead of a guess.
#include <gtest/gtest.h>

#include <tuple>

#include "app/RestoreCommands.h"
#include "backup/BackUp.h"
#include "common/Text.h"
#include "platform/NewFile.h"
#include "platform/Paths.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"
#include "tests/backup/BackupWorld.h"
#include "tests/support/SettingsGuard.h"
#include "tests/support/TestSupport.h"

using namespace vq;

namespace {

int CountOf(const std::wstring& text, const std::wstring& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(RestoreCommands, QuotedWordsKeepTheirBlanks) {
  using W = std::vector<std::wstring>;
  EXPECT_EQ(SplitCommandLine(L"restore \"/home/u/My Docs/a b.txt\" 2 /tmp/out"),
            (W{L"restore", L"/home/u/My Docs/a b.txt", L"2", L"/tmp/out"}));
  EXPECT_EQ(SplitCommandLine(L"  versions\t/a.txt  "), (W{L"versions", L"/a.txt"}));
  EXPECT_EQ(SplitCommandLine(L"versions \"unclosed path"), (W{L"versions", L"unclosed path"}));
  EXPECT_EQ(SplitCommandLine(L"restore \"\" 1"), (W{L"restore", L"", L"1"}));
  EXPECT_TRUE(SplitCommandLine(L"   ").empty());
}

TEST(RestoreCommands, MomentsAreADayOrATimeOfDay) {
  CalendarTime c;
  ASSERT_TRUE(ParseRestoreTime(L"2021-01-07", &c));
  EXPECT_EQ(std::make_tuple(c.year, c.month, c.day, c.hour, c.minute, c.second),
            std::make_tuple(2021, 1, 7, 23, 59, 59));
  ASSERT_TRUE(ParseRestoreTime(L"2021-1-7 10:08", &c));
  EXPECT_EQ(std::make_tuple(c.hour, c.minute, c.second), std::make_tuple(10, 8, 0));
  ASSERT_TRUE(ParseRestoreTime(L"2021-01-07 10:08:04", &c));
  EXPECT_EQ(c.second, 4);
  for (const wchar_t* bad : {L"", L"2021", L"2021-01", L"2021-13-01", L"2021-01-07 24:00", L"2021-01-07 10",
                             L"2021-01-07 10:08:04:01", L"2021/01/07", L"2021-01-07 10:08:60", L"20210-01-07"})
    EXPECT_FALSE(ParseRestoreTime(bad, &c)) << WideToUtf8(bad);
  // Days a month does not have are refused, not carried into the next month.
  for (const wchar_t* bad : {L"2021-02-30", L"2021-02-29", L"1900-02-29", L"2021-04-31", L"2021-11-31 10:00"})
    EXPECT_FALSE(ParseRestoreTime(bad, &c)) << WideToUtf8(bad);
  for (const wchar_t* good : {L"2020-02-29", L"2000-02-29", L"2021-01-31", L"2021-12-31 23:59:59"})
    EXPECT_TRUE(ParseRestoreTime(good, &c)) << WideToUtf8(good);
}

TEST(RestoreCommands, PastedPathsLoseTheirQuotesAndBlanks) {
  EXPECT_EQ(CleanTypedPath(L"\"C:\\Users\\u\\My Docs\\a.txt\""), L"C:\\Users\\u\\My Docs\\a.txt");
  EXPECT_EQ(CleanTypedPath(L"  \"/home/u/a b.txt\"  \r\n"), L"/home/u/a b.txt");
  EXPECT_EQ(CleanTypedPath(L" /home/u/a.txt "), L"/home/u/a.txt");
  EXPECT_EQ(CleanTypedPath(L"\""), L"\"");
  EXPECT_EQ(CleanTypedPath(L"a\"b\""), L"a\"b\"");
}

class RestoreCommandLines : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = vqtest::MakeScratchDir(L"restore-commands");
    vqtest::PointConfigAt(dir_);
    SetLogDirectoryForTest(dir_);
    AppSettings.logFileName.Set(L"vq.lumen.log.txt");
    AppSettings.S_DIR_ST_LIST.Set(dir_ + L"list" + platform::PathSeparator());
    AppSettings.S_DIR_ST_HIST.Set(dir_ + L"hist" + platform::PathSeparator());
  }
  void TearDown() override { SetLogDirectoryForTest(L""); }
  std::wstring Log() { return vqtest::DecodeLog(vqtest::ReadAll(dir_ + L"vq.lumen.log.txt")); }
  vqtest::SettingsGuard guard_;
  std::wstring dir_;
};

TEST_F(RestoreCommandLines, OnlyTheirOwnLinesAndUsageForMisfits) {
  EXPECT_FALSE(RunRestoreCommand(L"status"));
  EXPECT_FALSE(RunRestoreCommand(L"restorex a 1"));
  EXPECT_TRUE(RunRestoreCommand(L"restore /a.txt"));
  EXPECT_TRUE(RunRestoreCommand(L"restore /a.txt two"));
  EXPECT_TRUE(RunRestoreCommand(L"restore /a.txt -1"));
  EXPECT_TRUE(RunRestoreCommand(L"restore /a.txt 1 /out extra"));
  EXPECT_EQ(CountOf(Log(), L"用法: restore PATH N [FOLDER]\r\n"), 4);
  EXPECT_TRUE(RunRestoreCommand(L"versions"));
  EXPECT_NE(Log().find(L"用法: versions PATH\r\n"), std::wstring::npos);
  // A file with no versions: said so, and restore names the count instead of guessing.
  EXPECT_TRUE(RunRestoreCommand(L"versions \"/no such/a.txt\""));
  EXPECT_NE(Log().find(L"没有找到备份版本:/no such/a.txt\r\n"), std::wstring::npos);
  EXPECT_TRUE(RunRestoreCommand(L"restore \"/no such/a.txt\" 1"));
  EXPECT_NE(Log().find(L"恢复失败:/no such/a.txt [没有第 1 个版本, 共 0 个]\r\n"), std::wstring::npos);
  // A restore takes a number from a listing the user saw; without one there is nothing to take.
  ForgetShownVersions();
  EXPECT_TRUE(RunRestoreCommand(L"restore \"/no such/a.txt\" 1"));
  EXPECT_NE(Log().find(L"恢复失败:/no such/a.txt [请先用 versions 列出版本]\r\n"), std::wstring::npos);
}

TEST(RestoreNumbers, ARestoreTakesTheNumberAsTheUserReadIt) {
  vqtest::SettingsGuard guard;
  vqtest::BackupWorld w = vqtest::MakeBackupWorld(L"numbers", L".txt.", 8);
  const std::wstring f = w.src + L"a.txt";
  auto save = [&](const char* data, UnixTime t) {
    ASSERT_TRUE(platform::WriteFileAtomically(f, data));
    ASSERT_TRUE(platform::SetLastWriteTime(f, t));
    AppSettings.timeLastBk.store(0);
    RunBackUpPass(platform::RealFileSystem());
  };
  save("first", 1600000000);
  save("second", 1600100000);
  ForgetShownVersions();
  // [1] the list copy ("second", its history twin is the same version), [2] first
  ASSERT_TRUE(RunRestoreCommand(L"versions \"" + f + L"\""));
  save("third", 1600200000);  // a new listing would put "second" at 2
  const std::wstring out = w.root + L"out" + w.sep;
  ASSERT_TRUE(platform::RealFileSystem().CreateDirectoryTree(out));
  ASSERT_TRUE(RunRestoreCommand(L"restore \"" + f + L"\" 2 \"" + out + L"\""));
  EXPECT_EQ(vqtest::ReadAll(out + L"a.txt"), "first");
  // The list copy read as [1] now holds "third": [1] is still "second", from its history twin.
  ASSERT_TRUE(RunRestoreCommand(L"restore \"" + f + L"\" 1 \"" + out + L"\""));
  const std::wstring log = vqtest::DecodeLog(vqtest::ReadAll(w.root + L"vq.lumen.log.txt"));
  EXPECT_EQ(CountOf(log, L"]:恢复文件:"), 2);
  std::vector<platform::DirEntry> restored;
  ASSERT_TRUE(platform::RealFileSystem().List(out, &restored));
  ASSERT_EQ(restored.size(), 2u);
  for (const platform::DirEntry& e : restored) {
    if (e.name != L"a.txt") {
      EXPECT_EQ(vqtest::ReadAll(out + e.name), "second") << WideToUtf8(e.name);
    }
  }
  SetLogDirectoryForTest(L"");
  ForgetShownVersions();
}

}  // namespace
