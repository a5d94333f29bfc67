// The store's parse rules and a round trip through the real per-user store (the registry under
// wine, the store file on POSIX — pointed at a temporary directory).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/SettingsStore.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"
#include "tests/support/SettingsGuard.h"
#include "tests/support/TestSupport.h"

using namespace vq;

TEST(StoredTime, OnlyTextsLongerThanTwoCharactersCount) {
  int64_t v = 77;
  EXPECT_FALSE(ParseStoredTime(L"", &v));
  EXPECT_FALSE(ParseStoredTime(L"12", &v));
  EXPECT_FALSE(ParseStoredTime(L"-5", &v));
  EXPECT_EQ(v, 77);
  EXPECT_TRUE(ParseStoredTime(L"456789", &v));
  EXPECT_EQ(v, 456789);
  EXPECT_TRUE(ParseStoredTime(L"-500", &v));
  EXPECT_EQ(v, -500);
  EXPECT_TRUE(ParseStoredTime(L"  +123abc", &v));
  EXPECT_EQ(v, 123);
  EXPECT_TRUE(ParseStoredTime(L"abc", &v));  // not a number: 0
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(ParseStoredTime(L"99999999999999999999", &v));  // saturates, never wraps
  EXPECT_EQ(v, INT64_MAX);
  EXPECT_TRUE(ParseStoredTime(L"-99999999999999999999", &v));
  EXPECT_EQ(v, INT64_MIN);
  EXPECT_TRUE(ParseStoredTime(L"-9223372036854775808", &v));
  EXPECT_EQ(v, INT64_MIN);
}

TEST(StoredTime, FormatIsPlainDecimal) {
  EXPECT_EQ(FormatStoredTime(0), L"0");
  EXPECT_EQ(FormatStoredTime(-604800), L"-604800");
  EXPECT_EQ(FormatStoredTime(1796149603), L"1796149603");
  int64_t back = 0;
  ASSERT_TRUE(ParseStoredTime(FormatStoredTime(INT64_MIN), &back));
  EXPECT_EQ(back, INT64_MIN);
}

TEST(DecimalInt, ReadsLikeTheDialogTexts) {
  EXPECT_EQ(ParseDecimalInt(L"12abc"), 12);
  EXPECT_EQ(ParseDecimalInt(L" -3"), -3);
  EXPECT_EQ(ParseDecimalInt(L"abc"), 0);
  EXPECT_EQ(ParseDecimalInt(L"99999999999"), INT32_MAX);
}

TEST(DefaultFilter, IsExactlyThe316CharacterList) {
  std::wstring f = kDefaultFilter;
  EXPECT_EQ(f.size(), 316u);
  EXPECT_EQ(f.front(), L'.');
  EXPECT_EQ(f.substr(f.size() - 11), L".c.c.c.c.c.");
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_ = vqtest::MakeScratchDir(L"store");
    vqtest::PointConfigAt(scratch_);
    platform::SettingsKey key;
    ASSERT_TRUE(key.IsOpen());
    for (const wchar_t* n : kNames) key.Delete(n);
  }
  static constexpr const wchar_t* kNames[] = {
      L"timeLastBk",     L"timeLastBkDayly", L"timeLastBkWeekly", L"timeLastBkMonthly", L"timeLastBkYearly",
      L"vqDebug",        L"autoRunFlag",     L"maxFSize",         L"S_ZIP_PSW",         L"S_DIR_SRCDATA",
      L"S_DIR_DESTDATA", L"fFilterSr",       L"zipEncryption"};
  vqtest::SettingsGuard keep_;
  std::wstring scratch_;
};

TEST_F(StoreTest, MissingValuesGiveDefaultsAndKeepTimes) {
  AppSettings.defaultSrcDir.Set(L"SRC-DEFAULT");
  AppSettings.defaultDestDir.Set(L"DEST-DEFAULT");
  AppSettings.timeLastBk.store(1234);
  AppSettings.timeLastBkWeekly.store(5678);
  AppSettings.maxFSize.store(7);
  AppSettings.S_ZIP_PSW.Set(L"old");
  EXPECT_FALSE(LoadSettings());
  EXPECT_EQ(AppSettings.timeLastBk.load(), 1234);
  EXPECT_EQ(AppSettings.timeLastBkWeekly.load(), 5678);
  EXPECT_EQ(AppSettings.maxFSize.load(), 32);
  EXPECT_EQ(AppSettings.S_ZIP_PSW.Get(), L"739");
  EXPECT_EQ(AppSettings.S_DIR_SRCDATA.Get(), L"SRC-DEFAULT");
  EXPECT_EQ(AppSettings.S_DIR_DESTDATA.Get(), L"DEST-DEFAULT");
  EXPECT_EQ(AppSettings.fFilterSr.Get(), kDefaultFilter);
}

TEST_F(StoreTest, RoundTripOfAllTwelveValues) {
  AppSettings.timeLastBk.store(-500);
  AppSettings.timeLastBkDayly.store(1796149603);
  AppSettings.timeLastBkWeekly.store(100);
  AppSettings.timeLastBkMonthly.store(INT64_MAX);
  AppSettings.timeLastBkYearly.store(-86400);
  AppSettings.vqDebug.store(1);
  AppSettings.autoRunFlag.store(1);
  AppSettings.maxFSize.store(1024);
  AppSettings.S_ZIP_PSW.Set(L"密码\"\\x");
  AppSettings.S_DIR_SRCDATA.Set(L"源 dir\\/");
  AppSettings.S_DIR_DESTDATA.Set(L"D:/backup/");
  // A line break goes through the store escaped (a folder holding one is never used).
  AppSettings.fFilterSr.Set(L".txt\r\n.doc.");
  SaveSettings();
  AppSettings.timeLastBk.store(0);
  AppSettings.timeLastBkDayly.store(0);
  AppSettings.timeLastBkWeekly.store(0);
  AppSettings.timeLastBkMonthly.store(0);
  AppSettings.timeLastBkYearly.store(0);
  AppSettings.vqDebug.store(0);
  AppSettings.autoRunFlag.store(0);
  AppSettings.maxFSize.store(0);
  AppSettings.S_ZIP_PSW.Set(L"");
  ASSERT_TRUE(LoadSettings());
  EXPECT_EQ(AppSettings.timeLastBk.load(), -500);
  EXPECT_EQ(AppSettings.timeLastBkDayly.load(), 1796149603);
  EXPECT_EQ(AppSettings.timeLastBkWeekly.load(), 100);
  EXPECT_EQ(AppSettings.timeLastBkMonthly.load(), INT64_MAX);
  EXPECT_EQ(AppSettings.timeLastBkYearly.load(), -86400);
  EXPECT_EQ(AppSettings.vqDebug.load(), 1);
  EXPECT_EQ(AppSettings.autoRunFlag.load(), 1);
  EXPECT_EQ(AppSettings.maxFSize.load(), 1024);
  EXPECT_EQ(AppSettings.S_ZIP_PSW.Get(), L"密码\"\\x");
  EXPECT_EQ(AppSettings.S_DIR_SRCDATA.Get(), L"源 dir\\/");
  EXPECT_EQ(AppSettings.S_DIR_DESTDATA.Get(), L"D:/backup/");
  EXPECT_EQ(AppSettings.fFilterSr.Get(), L".txt\r\n.doc.");

  platform::SettingsKey key;
  std::wstring text;
  uint32_t dw = 0;
  EXPECT_TRUE(key.GetString(L"timeLastBk", &text));
  EXPECT_EQ(text, L"-500");
  EXPECT_FALSE(key.GetString(L"maxFSize", &text)) << "numbers are stored as 32-bit values, not text";
  EXPECT_TRUE(key.GetDword(L"maxFSize", &dw));
  EXPECT_EQ(dw, 1024u);
}

// Installations from before the choice have no value: they keep the traditional encryption.
// Only a stored 1 means AES; a value this version does not know falls back too.
TEST_F(StoreTest, TheEncryptionIsTraditionalUnlessAesIsStored) {
  AppSettings.zipEncryption.store(kZipEncryptionAes256);
  LoadSettings();
  EXPECT_EQ(AppSettings.zipEncryption.load(), kZipEncryptionTraditional);
  AppSettings.zipEncryption.store(kZipEncryptionAes256);
  SaveSettings();
  AppSettings.zipEncryption.store(kZipEncryptionTraditional);
  LoadSettings();
  EXPECT_EQ(AppSettings.zipEncryption.load(), kZipEncryptionAes256);
  uint32_t dw = 0;
  {
    platform::SettingsKey key;
    EXPECT_TRUE(key.GetDword(L"zipEncryption", &dw));
    EXPECT_EQ(dw, 1u);
    key.SetDword(L"zipEncryption", 7);
  }
  LoadSettings();
  EXPECT_EQ(AppSettings.zipEncryption.load(), kZipEncryptionTraditional);
  SaveSettings();
  platform::SettingsKey key;
  EXPECT_TRUE(key.GetDword(L"zipEncryption", &dw));
  EXPECT_EQ(dw, 0u);
}

TEST_F(StoreTest, StoredTextRules) {
  {
    platform::SettingsKey key;
    key.SetString(L"timeLastBk", L"12");  // two characters: not stored
    key.SetString(L"timeLastBkDayly", L"456789");
    key.SetString(L"S_ZIP_PSW", L"");  // empty stays empty
  }
  AppSettings.timeLastBk.store(42);
  EXPECT_FALSE(LoadSettings());
  EXPECT_EQ(AppSettings.timeLastBk.load(), 42);
  EXPECT_EQ(AppSettings.timeLastBkDayly.load(), 456789);
  EXPECT_EQ(AppSettings.S_ZIP_PSW.Get(), L"");
  {
    platform::SettingsKey key;
    key.SetString(L"timeLastBk", L"-500");
  }
  EXPECT_TRUE(LoadSettings());
  EXPECT_EQ(AppSettings.timeLastBk.load(), -500);
}

TEST_F(StoreTest, AutoRunEntryIsOneQuotedPathAndGoesAway) {
  std::wstring v;
  ApplyAutoRun(1);
  ApplyAutoRun(1);
  ASSERT_TRUE(platform::AutoRunQuery(&v));
  ASSERT_GE(v.size(), 3u);
  EXPECT_EQ(v.front(), L'"');
  EXPECT_EQ(v.back(), L'"');
  EXPECT_NE(v.find(L"settings_test"), std::wstring::npos) << "the entry names this program";
  ApplyAutoRun(0);
  EXPECT_FALSE(platform::AutoRunQuery(&v));
  ApplyAutoRun(0);  // no entry: nothing to do, nothing fails
  EXPECT_FALSE(platform::AutoRunQuery(&v));
}
