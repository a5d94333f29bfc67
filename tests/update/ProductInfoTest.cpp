// The product record, its ini file and the product-information log.
#include <gtest/gtest.h>

#include "common/Text.h"
#include "platform/File.h"
#include "tests/update/UpdateTestSupport.h"

using namespace vq;
using namespace vq::update;

namespace {

class ProductInfoTest : public vqtest::UpdateFixture {
 protected:
  void WriteIni(const std::string& text) { ASSERT_TRUE(platform::WriteFileAtomically(dir_ + L"vq.l.ini", text)); }
  // StartProductInfo without a real update thread.
  void StartWithoutThread() {
    SetUpdateThreadStarterForTest([this] {
      ++threadsStarted_;
      return true;
    });
    StartProductInfo();
  }
  int threadsStarted_ = 0;
};

const char kPlausibleIni[] =
    "[config]\r\nver=1.2\r\ntitle=Lumen\r\nstudio=Corvane\r\nemail=a@b.c\r\nweb=www.b.c\r\nflog=on\r\n";

}  // namespace

TEST_F(ProductInfoTest, WithoutIniFileNothingIsReadAndTheInfoLogStaysOff) {
  void* window = reinterpret_cast<void*>(0x5150);
  ReadProductIni(window);
  StartWithoutThread();
  EXPECT_EQ(ProductInfo.hWnd.load(), window);
  EXPECT_EQ(ProductInfo.iniOk.load(), 0);
  EXPECT_EQ(ProductInfo.logflag.load(), 0);
  EXPECT_EQ(ProductInfo.iver.Get(), L" ");
  EXPECT_EQ(ProductInfo.istudio.Get(), L"");
  EXPECT_EQ(threadsStarted_, 1) << "the update thread starts with or without the ini file";
  WriteInfoLog(L"x %d\r\n", 1);
  WriteInfoLogLine(L"y");
  EXPECT_FALSE(platform::PathExists(dir_ + L"vq.l.txt"));
}

TEST_F(ProductInfoTest, FlogWithACapitalLetterLeavesTheLogOffButTheValuesAreRead) {
  WriteIni("[config]\nver=1.2\ntitle=Lumen\nstudio=Corvane\nemail=a@b.c\nweb=www.b.c\nflog=On\n");
  ReadProductIni(nullptr);
  StartWithoutThread();
  EXPECT_EQ(ProductInfo.logflag.load(), 0);
  EXPECT_EQ(ProductInfo.iflog.Get(), L"On");
  EXPECT_EQ(ProductInfo.iver.Get(), L"1.2");
  EXPECT_EQ(ProductInfo.iniOk.load(), 1);
  EXPECT_FALSE(platform::PathExists(dir_ + L"vq.l.txt"));
}

TEST_F(ProductInfoTest, FlogOnWritesTheIniLinesTheStartLineAndTheDumpInOrder) {
  WriteIni(kPlausibleIni);
  ReadProductIni(reinterpret_cast<void*>(0x1F));
  StartWithoutThread();
  const CalendarTime& t = ProductInfo.startTime;
  const std::wstring cdir = dir_;
  std::vector<std::wstring> expected = {
      L"iver 1.2\r\n",
      L"ititle Lumen\r\n",
      L"istudio Corvane\r\n",
      L"iemail a@b.c\r\n",
      L"iweb www.b.c\r\n",
      L"iflog on\r\n",
      L"iniOk is 1\r\n",
      WFormat(L"on@%d.%d.%d-%d:%d:%d\r\n", t.year, t.month, t.day, t.hour, t.minute, t.second),
      L"SM_SOFT_VER 0.05\r\n",
      L"SM_SOFT_NAME vq.lumen\r\n",
      std::wstring(L"SM_EMAIL ") + AuthorEmail() + L"\r\n",
      std::wstring(L"SM_HOMEPAGE ") + HomePage() + L"\r\n",
      L"SM_STUDIO Corvane\r\n",
      L"SM_LOGFILENAME vq.l.txt\r\n",
      L"SM_INIFILENAME vq.l.ini\r\n",
      L"SM_CONFIG_ORVEN " + ConfiguredMirrors()[0] + L"\r\n",
      L"logflag 1\r\n",
      WFormat(L"hWnd 0x%p\r\n", reinterpret_cast<void*>(0x1F)),
      L"ver 0.05\r\n",
      L"name vq.lumen\r\n",
      std::wstring(L"email ") + AuthorEmail() + L"\r\n",
      std::wstring(L"homepage ") + HomePage() + L"\r\n",
      L"cdir " + cdir + L"\r\n",
      L"logPath " + dir_ + L"vq.l.txt\r\n",
      L"inipath " + dir_ + L"vq.l.ini\r\n",
      L"iniOk 1\r\n",
      L"iver 1.2\r\n",
      L"ititle Lumen\r\n",
      L"iemail a@b.c\r\n",
      L"iweb www.b.c\r\n",
      L"iflog on\r\n",
  };
  EXPECT_EQ(InfoLog(), expected) << "\"logflag=1\" itself is written while the log is still off";
  EXPECT_GT(t.year, 2000);
  std::string bytes = vqtest::ReadAll(dir_ + L"vq.l.txt");
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE")) << "UTF-16LE with its byte-order mark";
  EXPECT_EQ(threadsStarted_, 1);
  EXPECT_EQ(Shown(), L"") << "the product-information log never reaches the window";
}

TEST_F(ProductInfoTest, PlausibilityNeedsEveryPart) {
  EXPECT_TRUE(IniLooksPlausible(L"1.2", L"ab", L"cd", L"a@b", L"b.c"));
  EXPECT_FALSE(IniLooksPlausible(L"12", L"ab", L"cd", L"a@b", L"b.c"));
  EXPECT_FALSE(IniLooksPlausible(L"1.2", L"a", L"cd", L"a@b", L"b.c"));
  EXPECT_FALSE(IniLooksPlausible(L"1.2", L"ab", L"c", L"a@b", L"b.c"));
  EXPECT_FALSE(IniLooksPlausible(L"1.2", L"ab", L"cd", L"ab", L"b.c"));
  EXPECT_FALSE(IniLooksPlausible(L"1.2", L"ab", L"cd", L"a@b", L"bc"));
  // The initial single blanks are not plausible.
  EXPECT_FALSE(IniLooksPlausible(L" ", L" ", L"", L" ", L" "));
}

TEST_F(ProductInfoTest, IniIsReadWithTheRulesOfTheWindowsProfileFunctions) {
  WriteIni(
      "; a comment\n"
      "[other]\nver=9.9\n"
      "[Config]\n"
      "  Ver =  3.4  \n"
      "TITLE=\"Quoted Title\"\n"
      "studio='x'\n"
      "email=" +
      std::string(200, 'e') +
      "@example.com\n"
      "flog=on\n"
      "ver=5.6\n");
  ReadProductIni(nullptr);
  EXPECT_EQ(ProductInfo.iver.Get(), L"3.4") << "names without case, blanks dropped, first match wins";
  EXPECT_EQ(ProductInfo.ititle.Get(), L"Quoted Title") << "one pair of enclosing quotes removed";
  EXPECT_EQ(ProductInfo.istudio.Get(), L"x");
  EXPECT_EQ(ProductInfo.iemail.Get(), std::wstring(127, L'e')) << "cut at 127 characters";
  EXPECT_EQ(ProductInfo.iweb.Get(), L"") << "a missing key reads as empty";
  EXPECT_EQ(ProductInfo.logflag.load(), 1);
  EXPECT_EQ(ProductInfo.iniOk.load(), 0);
  std::vector<std::wstring> log = InfoLog();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), L"iniOk is 0\r\n");
}

TEST_F(ProductInfoTest, CompanionsWriteReadyTextsAndTheFormatterCutsLongEntries) {
  InfoLogOn();
  WriteInfoLogText(L"100% ready %d");
  WriteInfoLogLine(L"line");
  WriteInfoLog(L"%s|\r\n", std::wstring(90000, L'x'));
  std::vector<std::wstring> log = InfoLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0], L"100% ready %d");
  EXPECT_EQ(log[1], L"line\r\n");
  EXPECT_EQ(log[2], std::wstring(kLogTextLimit, L'x'));
}

TEST_F(ProductInfoTest, AboutLinesComeFromTheProductConstants) {
  WriteAboutLines();
  EXPECT_EQ(Shown(), std::wstring(L"关于:\r\nvq.lumen 0.05\r\n") + AuthorEmail() + L"\r\n");
}

TEST(ProductConstants, AddressesLieOnTheirServersPaths) {
  std::vector<std::wstring> mirrors = ConfiguredMirrors();
  ASSERT_EQ(mirrors.size(), 4u);
  for (const std::wstring& m : mirrors) {
    EXPECT_TRUE(IsOpenableWebPage(m)) << WideToUtf8(m);
    const std::wstring path = L"/sm/vq/CONFIG.xml";
    ASSERT_GE(m.size(), path.size());
    EXPECT_EQ(m.substr(m.size() - path.size()), path);
  }
  std::wstring home = HomePage();
  EXPECT_EQ(home.substr(home.size() - 16), L"/sm/vq/index.php");
  EXPECT_NE(std::wstring(AuthorEmail()).find(L'@'), std::wstring::npos);
}

TEST(CutToField, KeepsSizeMinusOneUnitsAndNeverSplitsAPair) {
  EXPECT_EQ(CutToField(L"abcdef", 4), L"abc");
  EXPECT_EQ(CutToField(L"abc", 4), L"abc");
  EXPECT_EQ(CutToField(L"abc", 1), L"");
  // U+1F600 takes two UTF-16 units on both builds.
  std::wstring pair = Utf16ToWide(u"ab\U0001F600c");
  EXPECT_EQ(CutToField(pair, 4), L"ab") << "the pair would not fit whole";
  EXPECT_EQ(CutToField(pair, 5), Utf16ToWide(u"ab\U0001F600"));
}
