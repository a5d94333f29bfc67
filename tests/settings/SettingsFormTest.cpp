// The settings dialog's decisions: the checks in the order the user meets their messages, the
// normalised values and the change test.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "settings/SettingsForm.h"

using namespace vq;

namespace {
// A file system that knows only the listed paths.
SettingsRules Rules(bool windowsPaths, std::set<std::wstring> existing, std::wstring defaultDest) {
  SettingsRules r;
  r.windowsPaths = windowsPaths;
  r.exists = [existing](const std::wstring& p) { return existing.count(p) != 0; };
  r.defaultDest = std::move(defaultDest);
  return r;
}

SettingsForm Valid() {
  SettingsForm f;
  f.filter = L".txt.";
  f.source = L"D:\\data";
  f.dest = L"E:\\backup";
  f.password = L"739";
  f.size = L"32";
  return f;
}

const SettingsRules kWin =
    Rules(true, {L"D:\\data", L"E:\\backup", L"\\\\server\\share", L"Z:\\mapped"}, L"C:\\vq.l\\");
}  // namespace

TEST(SettingsFilter, DotsAtBothEndsLowerCaseNoBlanksOrBreaks) {
  EXPECT_EQ(NormaliseFilter(L"TXT doc"), L".txtdoc.");
  EXPECT_EQ(NormaliseFilter(L".Txt.Doc"), L".txt.doc.");
  EXPECT_EQ(NormaliseFilter(L".txt.doc."), L".txt.doc.") << "an already normal list stays";
  EXPECT_EQ(NormaliseFilter(L".a\r\n.b\r.c\n.d"), L".a.b.c.d.");
  EXPECT_EQ(NormaliseFilter(L""), L".");
}

TEST(SettingsDirectory, SeparatorAppendedOnlyWhenMissing) {
  EXPECT_EQ(NormaliseDirectory(L"C:\\data", L'\\'), L"C:\\data\\");
  EXPECT_EQ(NormaliseDirectory(L"C:\\", L'\\'), L"C:\\");
  EXPECT_EQ(NormaliseDirectory(L"C:\\data/", L'\\'), L"C:\\data/") << "a slash counts as a separator";
  EXPECT_EQ(NormaliseDirectory(L"/home/li", L'/'), L"/home/li/");
}

TEST(SettingsChecks, AValidFormPasses) { EXPECT_EQ(ValidateSettingsForm(Valid(), kWin), L""); }

TEST(SettingsChecks, SourceMustExistAndBeLocal) {
  SettingsForm f = Valid();
  f.source = L"D:\\missing";
  EXPECT_EQ(ValidateSettingsForm(f, kWin), L"源目录不存在!!");
  f.source = L"\\\\server\\share";
  EXPECT_EQ(ValidateSettingsForm(f, kWin), L"源目录不是本地目录!!") << "a UNC source is refused although it exists";
  f.source = L"Z:\\mapped";
  EXPECT_EQ(ValidateSettingsForm(f, kWin), L"") << "a drive letter counts as local, mapped or not";
}

TEST(SettingsChecks, MissingDestinationOnlyWhenItIsTheDefault) {
  SettingsForm f = Valid();
  f.dest = L"F:\\gone";
  EXPECT_EQ(ValidateSettingsForm(f, kWin), L"目标目录不存在!!");
  f.dest = L"C:\\vq.l\\";
  EXPECT_EQ(ValidateSettingsForm(f, kWin), L"");
  f.dest = L"c:\\vq.l\\";
  EXPECT_EQ(ValidateSettingsForm(f, kWin), L"目标目录不存在!!") << "the comparison is exact";
}

TEST(SettingsChecks, PasswordOfTwoCharactersIsTheShortestAccepted) {
  SettingsForm f = Valid();
  f.password = L"x";
  EXPECT_EQ(ValidateSettingsForm(f, kWin), L"密码太简单!请重新设置!");
  f.password = L"";
  EXPECT_EQ(ValidateSettingsForm(f, kWin), L"密码太简单!请重新设置!");
  f.password = L"xy";
  EXPECT_EQ(ValidateSettingsForm(f, kWin), L"");
}

TEST(SettingsChecks, SizeFromOneTo1024) {
  const std::wstring range = L"文件大小设置超出范围[1~1024]MB!请重新设置!";
  SettingsForm f = Valid();
  for (const wchar_t* refused : {L"0", L"1025", L"", L"abc", L"-5", L"99999999999"}) {
    f.size = refused;
    EXPECT_EQ(ValidateSettingsForm(f, kWin), range) << "size text " << refused;
  }
  for (const wchar_t* accepted : {L"1", L"1024", L"12abc", L"  7"}) {
    f.size = accepted;
    EXPECT_EQ(ValidateSettingsForm(f, kWin), L"") << "size text " << accepted;
  }
  f.size = L"12abc";
  EXPECT_EQ(NormaliseSettingsForm(f, L'\\').maxFSize, 12);
}

TEST(SettingsChecks, FirstFailingCheckWins) {
  SettingsForm f;
  f.source = L"\\\\nowhere\\x";
  f.dest = L"F:\\gone";
  f.password = L"x";
  f.size = L"0";
  EXPECT_EQ(ValidateSettingsForm(f, kWin), L"源目录不存在!!");
  f.source = L"\\\\server\\share";
  EXPECT_EQ(ValidateSettingsForm(f, kWin), L"源目录不是本地目录!!");
  f.source = L"D:\\data";
  EXPECT_EQ(ValidateSettingsForm(f, kWin), L"目标目录不存在!!");
  f.dest = L"E:\\backup";
  EXPECT_EQ(ValidateSettingsForm(f, kWin), L"密码太简单!请重新设置!");
  f.password = L"xy";
  EXPECT_EQ(ValidateSettingsForm(f, kWin), L"文件大小设置超出范围[1~1024]MB!请重新设置!");
}

TEST(SettingsChecks, PosixPathsAreLocalUnlessNetworkOrRelative) {
  EXPECT_TRUE(IsLocalSourcePath(L"/home/li/Documents", false));
  EXPECT_FALSE(IsLocalSourcePath(L"//server/share", false));
  EXPECT_FALSE(IsLocalSourcePath(L"Documents", false));
  EXPECT_FALSE(IsLocalSourcePath(L"/data", true)) << "on Windows a rooted path without drive is refused";
  SettingsRules posix = Rules(false, {L"/home/li/src", L"/mnt/dest"}, L"/home/li/vq.l/");
  SettingsForm f = Valid();
  f.source = L"/home/li/src";
  f.dest = L"/mnt/dest";
  EXPECT_EQ(ValidateSettingsForm(f, posix), L"");
}

TEST(SettingsValues, NormalisedAndChangeTestedExactly) {
  SettingsForm f = Valid();
  f.autoRun = true;
  f.filter = L"TXT doc";
  SettingsValues v = NormaliseSettingsForm(f, L'\\');
  EXPECT_EQ(v.source, L"D:\\data\\");
  EXPECT_EQ(v.dest, L"E:\\backup\\");
  EXPECT_EQ(v.filter, L".txtdoc.");
  EXPECT_EQ(v.maxFSize, 32);
  EXPECT_EQ(v.autoRunFlag, 1);
  EXPECT_EQ(v.vqDebug, 0);
  EXPECT_FALSE(DirectoriesChanged(v, L"D:\\data\\", L"E:\\backup\\"));
  EXPECT_TRUE(DirectoriesChanged(v, L"D:\\data", L"E:\\backup\\")) << "the stored form lacks the backslash";
  EXPECT_TRUE(DirectoriesChanged(v, L"D:\\data\\", L"e:\\backup\\")) << "case counts";
  EXPECT_TRUE(DirectoriesChanged(v, L"D:\\other\\", L"E:\\backup\\"));
}

// A control character in any field is refused with that field's message, before anything else
// is tested: the folder test sees a path only up to a NUL (here, as in the store and the
// watcher, "D:\data" + NUL + "x" would pass as D:\data), and a password handed on as a C string
// would end at one.
TEST(SettingsChecks, AControlCharacterInAnyFieldIsRefused) {
  const SettingsRules prefixOnly =
      Rules(true, {L"D:\\data", L"E:\\backup", std::wstring(L"D:\\data\0x", 9), std::wstring(L"E:\\backup\0x", 11)},
            L"C:\\vq.l\\");
  struct Field {
    std::wstring SettingsForm::*member;
    const wchar_t* message;
  };
  const Field fields[] = {
      {&SettingsForm::filter, L"扩展名含有控制字符!请重新设置!"},
      {&SettingsForm::password, L"密码含有控制字符!请重新设置!"},
      {&SettingsForm::source, L"源目录含有控制字符!!"},
      {&SettingsForm::dest, L"目标目录含有控制字符!!"},
      {&SettingsForm::size, L"文件大小含有控制字符!请重新设置!"},
  };
  const std::wstring controls[] = {std::wstring(1, L'\0'), L"\x1b", L"\t", L"\x7f", L"\x85", L"\x9b"};
  for (const Field& field : fields) {
    for (const std::wstring& c : controls) {
      SettingsForm f = Valid();
      f.*(field.member) = f.*(field.member) + c + L"x";
      if (field.member == &SettingsForm::password) f.password = c + L"abc";  // long enough
      EXPECT_EQ(ValidateSettingsForm(f, prefixOnly), field.message) << int(c[0]);
    }
  }
  // The extension list is a multi-line edit: its line breaks are removed, not refused.
  SettingsForm f = Valid();
  f.filter = L".txt\r\n.doc\n";
  EXPECT_EQ(ValidateSettingsForm(f, kWin), L"");
  // Text beyond the controls passes: Chinese, and the first characters after each range.
  f = Valid();
  f.password = L"密码 ~\xa0";
  EXPECT_EQ(ValidateSettingsForm(f, kWin), L"");
  EXPECT_FALSE(HasControlCharacter(L"a b~\xa0\x4e2d"));
  EXPECT_TRUE(HasControlCharacter(L"\r", false));
  EXPECT_FALSE(HasControlCharacter(L"\r\n", true));
}
