// The decisions of the update check and its reading of the document, without a network.
#include <gtest/gtest.h>

#include "common/Text.h"
#include "tests/update/UpdateTestSupport.h"
#include "xml/XmlDocument.h"

using namespace vq;
using namespace vq::update;

namespace {
class UpdateCheckTest : public vqtest::UpdateFixture {};

std::wstring U(const char16_t* s) { return Utf16ToWide(s); }
}  // namespace

TEST(VersionComparison, ServerVersionIsComparedAsAString) {
  for (const wchar_t* newer : {L"0.10", L"0.5", L"1.0", L"0.050", L"0.1a", L"0.06"})
    EXPECT_TRUE(IsNewerVersion(newer, L"0.05")) << WideToUtf8(newer);
  for (const wchar_t* current : {L"0.05", L"0.04", L"", L"0.0", L"0", L"0.049"})
    EXPECT_FALSE(IsNewerVersion(current, L"0.05")) << WideToUtf8(current);
}

TEST(VersionComparison, UnitsCompareAsUtf16OnEveryBuild) {
  // U+1F600 is the pair D83D DE00 in UTF-16, below U+FFFF; as one 32-bit unit it would be above.
  EXPECT_FALSE(IsNewerVersion(U(u"\U0001F600"), U(u"\uFFFF")));
  EXPECT_TRUE(IsNewerVersion(U(u"\uFFFF"), U(u"\U0001F600")));
  // Unsigned: a character above U+7FFF is greater than any ASCII digit.
  EXPECT_TRUE(IsNewerVersion(U(u"0.0\u4E00"), L"0.05"));
}

TEST(OpenableWebPage, OnlyPlainWebAddresses) {
  for (const wchar_t* ok : {L"https://www.example.com/dl", L"http://example.com", L"HTTPS://Example.com/a?b=c&d=%20",
                            L"http://127.0.0.1:8080/x#frag"})
    EXPECT_TRUE(IsOpenableWebPage(ok)) << WideToUtf8(ok);
  for (const wchar_t* bad :
       {L"C:\\Windows\\System32\\calc.exe", L"file:///etc/passwd", L"\\\\host\\share\\x.exe", L"javascript:alert(1)",
        L"calc.exe", L"", L"http://", L"https:///etc/passwd", L"http://a.example/ --new-window file:///c",
        L"http://a.example/\"x", L"http://a.example/\tx", L"http://a.example/\r\nx", L"ftp://example.com/x",
        L"mailto:a@example.com", L"  https://example.com", L"http:\\\\example.com", L"http://-x.example/",
        L"ms-settings://x", L"\u3000https://example.com"})
    EXPECT_FALSE(IsOpenableWebPage(bad)) << WideToUtf8(bad);
}

TEST_F(UpdateCheckTest, HostilePagesAreNeverOpenedButLogged) {
  for (const wchar_t* bad :
       {L"C:\\Windows\\System32\\calc.exe", L"file:///etc/passwd", L"\\\\host\\share\\x.exe", L"javascript:alert(1)"}) {
    EXPECT_FALSE(OpenWebPage(bad));
    EXPECT_NE(Shown().find(std::wstring(L"没有打开:[") + bad + L"]\r\n"), std::wstring::npos) << WideToUtf8(bad);
  }
  EXPECT_TRUE(shell_.calls.empty()) << "nothing reached the shell";
}

TEST_F(UpdateCheckTest, ARefusedPageCannotWriteLinesOfItsOwnIntoTheLog) {
  EXPECT_FALSE(OpenWebPage(L"http://a.example/\r\n[2026.01.01-00:00:00]:run!\x1b[2J\x7f\x85\u2028"));
  EXPECT_NE(
      Shown().find(L"没有打开:[http://a.example/\\x0D\\x0A[2026.01.01-00:00:00]:run!\\x1B[2J\\x7F\\x85\\u2028]\r\n"),
      std::wstring::npos)
      << WideToUtf8(Shown());
  EXPECT_EQ(EscapeControlCharacters(L"\\ 你好 \t"), L"\\ 你好 \\x09") << "a backslash and other text stay as they are";
}

TEST_F(UpdateCheckTest, APlainPageOpensOnceAndTheNamedBrowserOnlyAfterAFailure) {
  EXPECT_TRUE(OpenWebPage(L"https://www.example.com/dl"));
  EXPECT_EQ(shell_.calls, std::vector<std::wstring>{L"default https://www.example.com/dl"});
  shell_.calls.clear();
  shell_.defaultSucceeds = false;
  EXPECT_TRUE(OpenWebPage(L"https://www.example.com/dl"));
  EXPECT_EQ(shell_.calls,
            (std::vector<std::wstring>{L"default https://www.example.com/dl", L"named https://www.example.com/dl"}));
}

TEST_F(UpdateCheckTest, PromptOpensThePageShowsTheOwnedMessageAndClosesTheMainWindow) {
  void* window = reinterpret_cast<void*>(0x4242);
  ProductInfo.hWnd.store(window);
  ProductInfo.softpage.Set(L"https://www.example.com/dl");
  PromptUpgrade();
  EXPECT_EQ(shell_.calls, (std::vector<std::wstring>{L"default https://www.example.com/dl", L"message", L"close"}));
  EXPECT_EQ(shell_.owner, window);
  EXPECT_EQ(shell_.closed, window);
  EXPECT_EQ(shell_.caption, L"请升级本软件!!");
  EXPECT_EQ(shell_.text,
            L"本软件需要升级才能继续使用，因为软件已有最新版本!\r\n请点击确认按钮进入如下所示的官方下载页面重新下载本"
            L"软件!\r\nhttps://www.example.com/dl");
  EXPECT_EQ(ProductInfo.updata.load(), 1);
}

TEST_F(UpdateCheckTest, PromptWithAHostilePageStillAsksForTheUpgrade) {
  ProductInfo.softpage.Set(L"C:\\Windows\\System32\\calc.exe");
  PromptUpgrade();
  EXPECT_EQ(shell_.calls, (std::vector<std::wstring>{L"message", L"close"}));
  EXPECT_NE(shell_.text.find(L"calc.exe"), std::wstring::npos);
  EXPECT_EQ(ProductInfo.updata.load(), 1);
}

TEST_F(UpdateCheckTest, PromptTextIsCutToItsBuffer) {
  std::wstring page = L"https://www.example.com/" + std::wstring(2000, L'a');
  ProductInfo.softpage.Set(page);
  PromptUpgrade();
  EXPECT_EQ(shell_.text.size(), 1023u);
  EXPECT_EQ(shell_.calls.front(), L"default " + page) << "the page itself is opened whole";
}

TEST_F(UpdateCheckTest, DocumentFieldsListAndInfoLog) {
  InfoLogOn();
  XmlDocument doc;
  ASSERT_TRUE(
      doc.SetText(L"<?xml version=\"1.0\"?><!-- c --><ROOT><version>0.10</version><message>新 &amp; 好</message>"
                  L"<softpage>https://www.example.com/dl</softpage><wopenflag>1</wopenflag>"
                  L"<wopen><a>http://a.example/</a><b><![CDATA[http://b.example/?x=1&y=2]]></b></wopen></ROOT>"));
  EXPECT_TRUE(SerializeFromXml(doc));
  EXPECT_EQ(ProductInfo.serverVersion.Get(), L"0.10");
  EXPECT_EQ(ProductInfo.message.Get(), L"新 & 好");
  EXPECT_EQ(ProductInfo.softpage.Get(), L"https://www.example.com/dl");
  EXPECT_EQ(ProductInfo.openFlag.Get(), L"1");
  EXPECT_EQ(ProductInfo.urls.Snapshot(),
            (std::vector<std::wstring>{L"http://a.example/", L"http://b.example/?x=1&y=2"}));
  EXPECT_EQ(Shown(), L"新 & 好\r\n");
  EXPECT_EQ(InfoLog(), (std::vector<std::wstring>{
                           L"0.10\r\n", L"新 & 好\r\n", L":p\r\n", L"https://www.example.com/dl\r\n", L"1\r\n",
                           L"http://a.example/\r\n", L"http://b.example/?x=1&y=2\r\n",
                           L"成功连接至服务器，请阅读以上收到的最新提示消息。\r\n", L"c..\r\n", L"新 & 好\r\n"}));
  // A second read appends to the list; it is never emptied.
  doc.ResetPos();
  EXPECT_TRUE(SerializeFromXml(doc));
  EXPECT_EQ(ProductInfo.urls.Snapshot().size(), 4u);
}

// A page forged on its way (plain HTTP through a proxy): CR, LF and ESC in every text it
// supplies reach the log, the product-information log and the upgrade prompt escaped, so it
// cannot write a log line with a time of its own, retitle the terminal or clear it.
TEST_F(UpdateCheckTest, ControlCharactersOfAPageAreEscapedWhereverTheyAreShown) {
  InfoLogOn();
  const std::wstring forged = L"\r\n[2026.01.01-00:00:00]:run!\x1b]0;owned\x07\x1b[2J";
  const std::wstring escaped = L"\\x0D\\x0A[2026.01.01-00:00:00]:run!\\x1B]0;owned\\x07\\x1B[2J";
  XmlDocument doc;
  ASSERT_TRUE(doc.SetText(L"<ROOT><version>9" + forged + L"</version><message>new" + forged +
                          L"</message><softpage>https://x.example/" + forged + L"</softpage><wopenflag>1" + forged +
                          L"</wopenflag><wopen><a>http://a.example/" + forged + L"</a></wopen></ROOT>"));
  EXPECT_TRUE(SerializeFromXml(doc));
  EXPECT_EQ(ProductInfo.message.Get(), L"new" + forged) << "the value itself is kept";
  EXPECT_EQ(Shown(), L"new" + escaped + L"\r\n");
  const std::wstring info = vqtest::DecodeLog(vqtest::ReadAll(dir_ + L"vq.l.txt"));
  EXPECT_EQ(info.find(L'\x1b'), std::wstring::npos);
  EXPECT_EQ(info.find(L"\n[2026.01.01"), std::wstring::npos) << "no line of the page's own";
  for (const std::wstring& text :
       {L"]:9" + escaped + L"\r\n", L"]:new" + escaped + L"\r\n", L"]:https://x.example/" + escaped + L"\r\n",
        L"]:1" + escaped + L"\r\n", L"]:http://a.example/" + escaped + L"\r\n"})
    EXPECT_NE(info.find(text), std::wstring::npos) << WideToUtf8(text);
  PromptUpgrade();
  EXPECT_EQ(shell_.calls, (std::vector<std::wstring>{L"message", L"close"})) << "the forged page is not opened";
  EXPECT_NE(shell_.text.find(L"https://x.example/" + escaped), std::wstring::npos) << WideToUtf8(shell_.text);
  EXPECT_EQ(shell_.text.find(L'\x1b'), std::wstring::npos);
}

TEST_F(UpdateCheckTest, ElementsAreFoundOnlyAfterTheOneBefore) {
  ProductInfo.message.Set(L"old message");
  ProductInfo.softpage.Set(L"https://old.example/");
  XmlDocument doc;
  ASSERT_TRUE(doc.SetText(L"<ROOT><message>early</message><version>0.05</version><wopen/></ROOT>"));
  EXPECT_TRUE(SerializeFromXml(doc));
  EXPECT_EQ(ProductInfo.serverVersion.Get(), L"0.05");
  EXPECT_EQ(ProductInfo.message.Get(), L"old message") << "message came before version and is not seen";
  EXPECT_EQ(ProductInfo.softpage.Get(), L"https://old.example/") << "a missing element keeps the old value";
  EXPECT_TRUE(ProductInfo.urls.Snapshot().empty()) << "wopen without children";
  EXPECT_EQ(Shown(), L"");
}

TEST_F(UpdateCheckTest, WithoutRootTheReadFails) {
  InfoLogOn();
  XmlDocument doc;
  ASSERT_TRUE(doc.SetText(L"<root><version>9</version></root>"));
  EXPECT_FALSE(SerializeFromXml(doc)) << "names count with their case";
  EXPECT_EQ(ProductInfo.serverVersion.Get(), L"");
  EXPECT_EQ(InfoLog(), std::vector<std::wstring>{L"SerializeFromXml:ROOT failed\r\n"});
}

TEST_F(UpdateCheckTest, OverlongTextsAreCutAtTheirFields) {
  std::wstring longVersion(300, L'9'), longText(3000, L'm');
  XmlDocument doc;
  ASSERT_TRUE(doc.SetText(L"<ROOT><version>" + longVersion + L"</version><message>" + longText +
                          L"</message><softpage>" + longText + L"</softpage><wopenflag>" + longText +
                          L"</wopenflag><wopen><u>" + longText + L"</u></wopen></ROOT>"));
  EXPECT_TRUE(SerializeFromXml(doc));
  EXPECT_EQ(ProductInfo.serverVersion.Get(), std::wstring(127, L'9'));
  EXPECT_EQ(ProductInfo.message.Get(), std::wstring(1023, L'm'));
  EXPECT_EQ(ProductInfo.softpage.Get(), std::wstring(1023, L'm'));
  EXPECT_EQ(ProductInfo.openFlag.Get(), std::wstring(1023, L'm'));
  EXPECT_EQ(ProductInfo.urls.Snapshot(), std::vector<std::wstring>{std::wstring(1023, L'm')});
}

TEST_F(UpdateCheckTest, TinyDownloadBufferIsRefusedBeforeAnyRequest) {
  InfoLogOn();
  char buf[8] = {};
  size_t len = sizeof buf;
  // A refused port: the call must not get as far as the network anyway.
  EXPECT_FALSE(Download2Mem(L"http://127.0.0.1:9/sm/vq/CONFIG.xml", buf, &len));
  EXPECT_EQ(InfoLog(), std::vector<std::wstring>{L"Download2Mem bufLen <=8 \r\n"});
}

TEST_F(UpdateCheckTest, WithoutARequestTheThreadStepDoesNothing) {
  SetMirrorsForTest({L"http://127.0.0.1:9/sm/vq/CONFIG.xml"});
  EXPECT_TRUE(UpdateThreadStep());
  EXPECT_EQ(Shown(), L"");
  RequestUpdateCheck();
  EXPECT_EQ(ProductInfo.checkRequest.load(), 1);
}
