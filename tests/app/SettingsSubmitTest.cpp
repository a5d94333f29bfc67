// The settings dialog's OK, through the real store, log and working directories (all in a
// scratch directory): a refused form changes nothing; an accepted one is stored, logged and
// applied, and asks for a restart only when a directory changed outside the first run.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "app/Commands.h"
#include "app/Startup.h"
#include "backup/BackUp.h"
#include "backup/WorkDirs.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"
#include "tests/support/SettingsGuard.h"
#include "tests/support/TestSupport.h"

using namespace vq;

namespace {
class CapturedView : public LogView {
 public:
  void AppendLogText(const std::wstring& text) override {
    std::lock_guard<std::mutex> g(m_);
    shown_ += text;
  }
  std::wstring shown() {
    std::lock_guard<std::mutex> g(m_);
    return shown_;
  }

 private:
  std::mutex m_;
  std::wstring shown_;
};

class SubmitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = vqtest::MakeScratchDir(L"submit");
    vqtest::PointConfigAt(dir_);
    SetLogDirectoryForTest(dir_);
    SetLogView(&view_);
    AppSettings.logFileName.Set(L"vq.lumen.log.txt");
    src_ = dir_ + L"src";
    dest_ = dir_ + L"dest";
    ASSERT_TRUE(platform::CreateDirectoryTree(src_));
    ASSERT_TRUE(platform::CreateDirectoryTree(dest_));
    sep_ = platform::PathSeparator();
    AppSettings.S_DIR_SRCDATA.Set(src_ + sep_);
    AppSettings.S_DIR_DESTDATA.Set(dest_ + sep_);
    AppSettings.defaultDestDir.Set(dir_ + L"default-dest" + sep_);
    AppSettings.S_ZIP_PSW.Set(L"739");
    AppSettings.maxFSize.store(32);
    savedFirstRun_ = firstRun.load();
  }
  void TearDown() override {
    firstRun.store(savedFirstRun_);
    SetLogView(nullptr);
    SetLogDirectoryForTest(L"");
  }
  SettingsForm Form() {
    SettingsForm f = FormFromSettings();
    f.autoRun = false;
    return f;
  }

  vqtest::SettingsGuard keep_;
  CapturedView view_;
  std::wstring dir_, src_, dest_;
  wchar_t sep_ = L'/';
  int savedFirstRun_ = 0;
};
}  // namespace

TEST_F(SubmitTest, ARefusedFormStoresAndLogsNothing) {
  firstRun.store(0);
  SettingsForm f = Form();
  f.password = L"x";
  f.filter = L"TXT";
  SettingsSubmit r = SubmitSettings(f, PlatformSettingsRules());
  EXPECT_EQ(r.message, L"密码太简单!请重新设置!");
  EXPECT_FALSE(r.restart);
  EXPECT_EQ(AppSettings.S_ZIP_PSW.Get(), L"739");
  EXPECT_NE(AppSettings.fFilterSr.Get(), L".txt.");
  EXPECT_EQ(view_.shown(), L"");
}

TEST_F(SubmitTest, AcceptedFormIsStoredLoggedAndAppliedWithoutRestartWhenDirectoriesStay) {
  firstRun.store(0);
  SettingsForm f = Form();
  f.filter = L"TXT doc";
  f.password = L"secret";
  f.size = L"12abc";
  f.source = src_;  // as the folder browser returns it: no trailing separator
  f.aes = true;
  SettingsSubmit r = SubmitSettings(f, PlatformSettingsRules());
  ASSERT_TRUE(r.accepted()) << WideToUtf8(r.message);
  EXPECT_FALSE(r.restart) << "the normalised source equals the one in use";
  EXPECT_EQ(AppSettings.fFilterSr.Get(), L".txtdoc.");
  EXPECT_EQ(AppSettings.maxFSize.load(), 12);
  EXPECT_EQ(AppSettings.S_DIR_SRCDATA.Get(), src_ + sep_);
  const std::wstring shown = view_.shown();
  EXPECT_NE(shown.find(L"设置结果:\r\nfFilterSr:[.txtdoc.]\r\nSet autoRunFlag    [0]\r\nSet vqDebug        [0]\r\n"
                       L"Set maxFSize       [12]\r\nSet S_ZIP_PSW      [******]\r\nSet zipEncryption  [AES-256]\r\n"),
            std::wstring::npos)
      << WideToUtf8(shown);
  EXPECT_EQ(shown.find(L"secret"), std::wstring::npos) << "the password is never logged";
  EXPECT_EQ(shown.find(L"目录有改变"), std::wstring::npos);
  // Stored: the record read back from the store has the new values.
  AppSettings.fFilterSr.Set(L"");
  AppSettings.maxFSize.store(0);
  AppSettings.zipEncryption.store(kZipEncryptionTraditional);
  LoadSettings();
  EXPECT_EQ(AppSettings.fFilterSr.Get(), L".txtdoc.");
  EXPECT_EQ(AppSettings.maxFSize.load(), 12);
  EXPECT_EQ(AppSettings.S_ZIP_PSW.Get(), L"secret");
  EXPECT_EQ(AppSettings.zipEncryption.load(), kZipEncryptionAes256);
  EXPECT_TRUE(FormFromSettings().aes);
  EXPECT_FALSE(DefaultSettingsForm().aes) << "restoring the defaults brings the traditional encryption back";
}

TEST_F(SubmitTest, AChangedDirectoryRestartsOnlyOutsideTheFirstRun) {
  const std::wstring other = dir_ + L"dest2";
  ASSERT_TRUE(platform::CreateDirectoryTree(other));
  firstRun.store(1);
  SettingsForm f = Form();
  f.dest = other;
  SettingsSubmit r = SubmitSettings(f, PlatformSettingsRules());
  ASSERT_TRUE(r.accepted());
  EXPECT_FALSE(r.restart) << "nothing watches the old directories during the first run";
  EXPECT_TRUE(platform::IsDirectory(AppSettings.S_DIR_ST_HIST.Get())) << "work dirs follow the new destination";
  EXPECT_EQ(AppSettings.S_DIR_ST_HIST.Get().rfind(other, 0), 0u);

  firstRun.store(0);
  f = Form();
  f.dest = dest_;
  r = SubmitSettings(f, PlatformSettingsRules());
  ASSERT_TRUE(r.accepted());
  EXPECT_TRUE(r.restart);
  EXPECT_NE(view_.shown().find(L"目录有改变，将重启软件\r\n"), std::wstring::npos);
}

TEST_F(SubmitTest, AMissingDefaultDestinationIsAcceptedAndCreated) {
  firstRun.store(0);
  SettingsForm f = Form();
  f.dest = AppSettings.defaultDestDir.Get();
  ASSERT_FALSE(platform::PathExists(f.dest));
  SettingsSubmit r = SubmitSettings(f, PlatformSettingsRules());
  ASSERT_TRUE(r.accepted()) << WideToUtf8(r.message);
  EXPECT_TRUE(platform::IsDirectory(f.dest));
  f.dest = dir_ + L"not-the-default";
  EXPECT_EQ(SubmitSettings(f, PlatformSettingsRules()).message, L"目标目录不存在!!");
}

TEST_F(SubmitTest, TheDialogsReloadNeverUndoesTheWorkersLastBackupTime) {
  // The worker sets the last-backup time and saves the whole record at the end of every pass;
  // an empty source makes a pass little more than that. A pass that ended before an OK must not
  // be undone by the OK's reload, or its files are backed up again and again.
  firstRun.store(0);
  AppSettings.vqDebug.store(0);
  const UnixTime t0 = 1700000000;
  std::atomic<bool> stop{false};
  std::atomic<int64_t> lastPassTime{0};
  std::thread worker([&] {
    for (int64_t i = 1; !stop.load(); ++i) {
      platform::SetNowForTest(t0 + i);
      RunBackUpPass(platform::RealFileSystem());
      lastPassTime.store(t0 + i - 1);
    }
  });
  int undone = 0;
  // At least 300 submits, and on until the worker has ended a few passes: the submits may keep
  // the store busy enough that the worker gets its turn only now and then.
  for (int i = 0; (i < 300 || lastPassTime.load() < t0 + 3) && i < 30000 && undone == 0; ++i) {
    const int64_t before = lastPassTime.load();
    SettingsForm f = Form();
    f.password = i % 2 ? L"odd-1" : L"even-2";
    ASSERT_TRUE(SubmitSettings(f, PlatformSettingsRules()).accepted());
    EXPECT_EQ(AppSettings.S_ZIP_PSW.Get(), f.password);
    if (AppSettings.timeLastBk.load() < before) ++undone;
  }
  stop.store(true);
  worker.join();
  platform::ClearNowForTest();
  EXPECT_GT(lastPassTime.load(), t0) << "the worker ran";
  EXPECT_EQ(undone, 0) << "the reload brought back the time of an older save";
}

TEST_F(SubmitTest, ARegularFileIsNoSourceOrDestination) {
  firstRun.store(0);
  const std::wstring file = dir_ + L"plain.txt";
  ASSERT_TRUE(platform::WriteFileAtomically(file, "x"));
  SettingsForm f = Form();
  f.source = file;
  EXPECT_EQ(SubmitSettings(f, PlatformSettingsRules()).message, L"源目录不存在!!");
  f = Form();
  f.dest = file;
  EXPECT_EQ(SubmitSettings(f, PlatformSettingsRules()).message, L"目标目录不存在!!");
  EXPECT_EQ(AppSettings.S_DIR_DESTDATA.Get(), dest_ + sep_);
}

#ifndef _WIN32
// A store that cannot be written (here a folder stands where the store file goes, so the write's
// final rename fails) is told, and nothing changes: the values in use stay the old ones, the
// working folders stay on the old destination, and no restart comes back on the old store.
TEST_F(SubmitTest, AFailedStoreWriteIsToldAndNeitherChangesNorRestarts) {
  firstRun.store(0);
  const std::wstring store = platform::ConfigDir() + L"vq.l.reg";
  ASSERT_TRUE(platform::CreateDirectoryTree(store));
  const std::wstring other = dir_ + L"dest2";
  ASSERT_TRUE(platform::CreateDirectoryTree(other));
  InitWorkDirs();
  const std::wstring hist = AppSettings.S_DIR_ST_HIST.Get();
  SettingsForm f = Form();
  f.dest = other;
  f.password = L"secret";
  SettingsSubmit r = SubmitSettings(f, PlatformSettingsRules());
  EXPECT_EQ(r.message, L"设置保存失败!设置未改变!");
  EXPECT_FALSE(r.restart);
  EXPECT_EQ(AppSettings.S_DIR_DESTDATA.Get(), dest_ + sep_);
  EXPECT_EQ(AppSettings.S_ZIP_PSW.Get(), L"739");
  EXPECT_EQ(AppSettings.S_DIR_ST_HIST.Get(), hist);
  const std::wstring shown = view_.shown();
  EXPECT_NE(shown.find(L"设置保存失败,设置未改变\r\n"), std::wstring::npos) << WideToUtf8(shown);
  EXPECT_EQ(shown.find(L"目录有改变"), std::wstring::npos);

  // Once the store can be written again, the same form goes through.
  ASSERT_EQ(rmdir(WideToUtf8(store).c_str()), 0);
  r = SubmitSettings(f, PlatformSettingsRules());
  ASSERT_TRUE(r.accepted()) << WideToUtf8(r.message);
  EXPECT_TRUE(r.restart);
}
#endif

// A NUL typed before a password leaves nothing stored and nothing logged as set.
TEST_F(SubmitTest, APasswordWithAControlCharacterIsNeitherStoredNorLogged) {
  firstRun.store(0);
  SettingsForm f = Form();
  f.password = std::wstring(1, L'\0') + L"abc";
  SettingsSubmit r = SubmitSettings(f, PlatformSettingsRules());
  EXPECT_EQ(r.message, L"密码含有控制字符!请重新设置!");
  EXPECT_EQ(AppSettings.S_ZIP_PSW.Get(), L"739");
  EXPECT_EQ(view_.shown(), L"");
}
