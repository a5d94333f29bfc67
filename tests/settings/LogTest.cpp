#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Paths.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"
#include "tests/support/SettingsGuard.h"
#include "tests/support/TestSupport.h"

using namespace vq;

namespace {

class CapturingView : public LogView {
 public:
  void AppendLogText(const std::wstring& text) override {
    std::lock_guard<std::mutex> g(m);
    shown += text;
  }
  std::mutex m;
  std::wstring shown;
};

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = vqtest::MakeScratchDir(L"log");
    SetLogDirectoryForTest(dir_);
    AppSettings.logFileName.Set(L"vq.lumen.log.txt");
  }
  void TearDown() override {
    SetLogView(nullptr);
    SetLogDirectoryForTest(L"");
  }
  std::string Bytes() { return vqtest::ReadAll(dir_ + L"vq.lumen.log.txt"); }
  std::wstring Text() { return vqtest::DecodeLog(Bytes()); }
  vqtest::SettingsGuard keep_;
  std::wstring dir_;
};

std::string Narrow(const std::wstring& w) { return WideToUtf8(w); }

}  // namespace

TEST_F(LogTest, FileStartsWithOneBomAndEveryEntryHasItsPrefix) {
  WriteLog(L"first %d\r\n", 1);
  WriteLog(L"\r\n");
  WriteLogText(L"third");
  std::string b = Bytes();
  ASSERT_GE(b.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(b[0]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(b[1]), 0xFE);
  EXPECT_NE(static_cast<unsigned char>(b[2]), 0xFF) << "the mark is written once, at creation";
  std::string text = Narrow(Text());
  EXPECT_EQ(text.find("\xFF\xFE"), std::string::npos);
  std::regex whole(
      R"(^\[\d{4}\.\d\d\.\d\d-\d\d:\d\d:\d\d\]:first 1\r\n\[\d{4}\.\d\d\.\d\d-\d\d:\d\d:\d\d\]:\r\n\[\d{4}\.\d\d\.\d\d-\d\d:\d\d:\d\d\]:third$)");
  EXPECT_TRUE(std::regex_match(text, whole)) << text;
  // A second writer later appends and never truncates.
  size_t before = b.size();
  WriteLog(L"x");
  EXPECT_GT(Bytes().size(), before);
  EXPECT_EQ(Bytes().substr(0, before), b);
}

TEST_F(LogTest, PercentInAReadyTextIsKeptAndInAFormatIsInterpreted) {
  CapturingView view;
  SetLogView(&view);
  WriteLogText(L"100% done %d\r\n");
  WriteLog(L"100%% done %d\r\n", 7);
  EXPECT_EQ(view.shown, L"100% done %d\r\n100% done 7\r\n") << "the window shows the text without the prefix";
  std::wstring t = Text();
  EXPECT_NE(t.find(L"]:100% done %d\r\n"), std::wstring::npos);
  EXPECT_NE(t.find(L"]:100% done 7\r\n"), std::wstring::npos);
}

TEST_F(LogTest, TwoThreadsAtOnceGiveWholeEntries) {
  CapturingView view;
  SetLogView(&view);
  const int kEach = 150;
  auto writer = [&](wchar_t tag) {
    for (int i = 0; i < kEach; ++i) WriteLog(L"%c-%d-%s\r\n", tag, i, std::wstring(40, tag));
  };
  std::thread a(writer, L'A'), b(writer, L'B');
  a.join();
  b.join();
  std::wstring t = Text();
  std::wregex entry(LR"(\[\d{4}\.\d\d\.\d\d-\d\d:\d\d:\d\d\]:([AB])-(\d+)-([AB]{40})\r\n)");
  int count = 0;
  size_t consumed = 0;
  for (std::wsregex_iterator it(t.begin(), t.end(), entry), end; it != end; ++it) {
    EXPECT_EQ(static_cast<size_t>(it->position()), consumed) << "no stray bytes between entries";
    EXPECT_EQ((*it)[3].str(), std::wstring(40, (*it)[1].str()[0])) << "an entry was interleaved";
    consumed = static_cast<size_t>(it->position() + it->length());
    ++count;
  }
  EXPECT_EQ(count, 2 * kEach);
  EXPECT_EQ(consumed, t.size());
  int shownLines = 0;
  std::wregex line(LR"(([AB])-\d+-([AB]{40})\r\n)");
  for (std::wsregex_iterator it(view.shown.begin(), view.shown.end(), line), end; it != end; ++it) {
    EXPECT_EQ((*it)[2].str(), std::wstring(40, (*it)[1].str()[0]));
    ++shownLines;
  }
  EXPECT_EQ(shownLines, 2 * kEach);
}

TEST_F(LogTest, OverlongTextIsCutAt81919Characters) {
  std::wstring big(100000, L'x');
  CapturingView view;
  SetLogView(&view);
  WriteLog(L"%s", big);
  EXPECT_EQ(view.shown.size(), 81919u);
  std::wstring t = Text();
  EXPECT_EQ(t.size(), 22u + 81919u);
}

TEST_F(LogTest, EntryIsLostSilentlyWhileAnotherWriterHoldsTheFile) {
  WriteLog(L"before\r\n");
  {
    bool created = true;
    platform::File holder = platform::File::OpenAppendExclusive(dir_ + L"vq.lumen.log.txt", &created);
    ASSERT_TRUE(holder.IsOpen());
    EXPECT_FALSE(created);
    CapturingView view;
    SetLogView(&view);
    WriteLog(L"during\r\n");
    EXPECT_EQ(view.shown, L"during\r\n") << "the window part still happens";
    SetLogView(nullptr);
  }
  WriteLog(L"after\r\n");
  std::wstring t = Text();
  EXPECT_NE(t.find(L"before"), std::wstring::npos);
  EXPECT_EQ(t.find(L"during"), std::wstring::npos);
  EXPECT_NE(t.find(L"after"), std::wstring::npos);
}

TEST_F(LogTest, RunParametersMaskThePassword) {
  AppSettings.S_ZIP_PSW.Set(L"abcde");
  AppSettings.autoRunFlag.store(1);
  AppSettings.maxFSize.store(32);
  AppSettings.S_DIR_ST_DIR.Set(L"D:\\vq.l\\mScDir\\");
  ShowRunParameters();
  std::wstring t = Text();
  EXPECT_NE(t.find(L"]:S_ZIP_PSW         [Zip密码]      [*****]\r\n"), std::wstring::npos);
  EXPECT_EQ(t.find(L"abcde"), std::wstring::npos);
  EXPECT_NE(t.find(L"]:autoRunFlag       [开机运行]     [是]\r\n"), std::wstring::npos);
  EXPECT_NE(t.find(L"]:maxFSize          [文件大小限制] [32]MB\r\n"), std::wstring::npos);
  EXPECT_NE(t.find(L"]:S_DIR_ST_DIR      [文件夹视图]   [D:\\vq.l\\mScDir\\]\r\n"), std::wstring::npos);
  EXPECT_NE(t.find(L"]:REG_KEY:[vq.lumen]\r\n"), std::wstring::npos);
  EXPECT_NE(t.find(L"]:AppName:[vq.l]\r\n"), std::wstring::npos);
  EXPECT_NE(t.find(L"]:zipEncryption     [Zip加密]      [传统]\r\n"), std::wstring::npos);
  // 18 lines, each its own entry.
  size_t entries = 0;
  for (size_t p = t.find(L"]:"); p != std::wstring::npos; p = t.find(L"]:", p + 1))
    if (p >= 20 && t[p - 20] == L'[') ++entries;
  EXPECT_EQ(entries, 18u);
}

TEST(LogPath, JoinPutsASeparatorOnlyWhenMissing) {
  std::wstring sep(1, platform::PathSeparator());
  EXPECT_EQ(JoinDirAndName(L"dir" + sep, L"f"), L"dir" + sep + L"f");
  EXPECT_EQ(JoinDirAndName(L"dir", L"f"), L"dir" + sep + L"f");
}
