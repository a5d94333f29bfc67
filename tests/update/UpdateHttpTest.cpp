// The update check against a loopback HTTP server (tests/update/update_http.py starts it and
// passes its address in VQ_TEST_HTTP). Runs natively with libcurl and under wine with WinINet.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/Commands.h"
#include "common/Text.h"
#include "platform/Clock.h"
#include "platform/Thread.h"
#include "tests/update/UpdateTestSupport.h"
#include "xml/XmlDocument.h"

using namespace vq;
using namespace vq::update;

namespace {

std::wstring Server() {
  const char* s = std::getenv("VQ_TEST_HTTP");
  return s ? L"http://" + Utf8ToWide(s) : L"";
}

std::wstring RefusedMirror() {
  const char* p = std::getenv("VQ_TEST_REFUSED_PORT");
  return L"http://127.0.0.1:" + Utf8ToWide(p ? p : "9") + L"/sm/vq/CONFIG.xml";
}

std::wstring Escape(const std::string& bytes) {
  static const char hex[] = "0123456789ABCDEF";
  std::wstring out;
  for (unsigned char c : bytes) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-') {
      out.push_back(c);
    } else {
      out.push_back(L'%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out;
}

// A mirror serving body (raw bytes), counted under key.
std::wstring Doc(const std::string& body, const std::string& key = "") {
  return Server() + L"/doc?key=" + Utf8ToWide(key) + L"&body=" + Escape(body);
}

std::string Document(const std::string& version, const std::string& message) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<ROOT>\r\n  <version>" + version + "</version>\r\n  <message>" +
         message +
         "</message>\r\n  <softpage>https://www.example.com/dl</softpage>\r\n  <wopenflag>0</wopenflag>\r\n"
         "  <wopen><u1>http://a.example/</u1></wopen>\r\n</ROOT>\r\n";
}

class UpdateHttpTest : public vqtest::UpdateFixture {
 protected:
  void SetUp() override {
    UpdateFixture::SetUp();
    ASSERT_FALSE(Server().empty()) << "run through update_http.py, which starts the server";
    platform::HttpOptions quick;
    quick.userAgent = L"vq.l";
    quick.receiveTimeoutMs = 1000;
    SetHttpOptionsForTest(&quick);
  }

  // The bytes Download2Mem stores for url (and its answer).
  bool Fetch(const std::wstring& url, std::string* bytes) {
    std::vector<char> buf(kDownloadBufferBytes, '\x55');
    size_t len = buf.size();
    bool ok = Download2Mem(url, buf.data(), &len);
    bytes->assign(buf.data(), len);
    if (ok && len > 0) {
      trailingZeros_ = 0;
      while (trailingZeros_ < 6 && buf[len + trailingZeros_] == 0) ++trailingZeros_;
    }
    return ok;
  }

  int Hits(const std::string& key) {
    std::string body;
    if (!Fetch(Server() + L"/hits?key=" + Utf8ToWide(key), &body)) return -1;
    return std::atoi(body.c_str());
  }

  size_t trailingZeros_ = 0;
};

class NoWindow : public CommandHost {
 public:
  void QuitMessageLoop() override {}
};

size_t Count(const std::wstring& text, const std::wstring& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::wstring::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

}  // namespace

TEST_F(UpdateHttpTest, CurrentDocumentIsReadAndTheVersionReportedCurrent) {
  InfoLogOn();
  SetMirrorsForTest({Doc(Document("0.05", "服务器消息 &amp; more"))});
  RequestUpdateCheck();
  EXPECT_TRUE(UpdateThreadStep());
  EXPECT_EQ(ProductInfo.checkRequest.load(), 0);
  EXPECT_EQ(Shown(), L"服务器消息 & more\r\n当前版本[0.05]是最新版本!\r\n");
  EXPECT_EQ(ProductInfo.serverVersion.Get(), L"0.05");
  EXPECT_EQ(ProductInfo.softpage.Get(), L"https://www.example.com/dl");
  EXPECT_EQ(ProductInfo.openFlag.Get(), L"0");
  EXPECT_EQ(ProductInfo.urls.Snapshot(), std::vector<std::wstring>{L"http://a.example/"});
  EXPECT_EQ(InfoLog(), (std::vector<std::wstring>{L"c\r\n", L"c.\r\n", L"0.05\r\n", L"服务器消息 & more\r\n", L":p\r\n",
                                                  L"https://www.example.com/dl\r\n", L"0\r\n", L"http://a.example/\r\n",
                                                  L"成功连接至服务器，请阅读以上收到的最新提示消息。\r\n", L"c..\r\n",
                                                  L"服务器消息 & more\r\n"}));
  EXPECT_TRUE(shell_.calls.empty());
}

TEST_F(UpdateHttpTest, NewerVersionOpensThePagePromptsAndClosesTheWindow) {
  SetMirrorsForTest({Doc(Document("0.10", "new"))});
  RequestUpdateCheck();
  EXPECT_TRUE(UpdateThreadStep());
  EXPECT_EQ(shell_.calls, (std::vector<std::wstring>{L"default https://www.example.com/dl", L"message", L"close"}));
  EXPECT_EQ(Shown(), L"new\r\n");
  EXPECT_EQ(ProductInfo.updata.load(), 1);
}

TEST_F(UpdateHttpTest, UnreachableFirstMirrorIsSkippedSilently) {
  InfoLogOn();
  SetMirrorsForTest({RefusedMirror(), Doc(Document("0.04", "from the second"))});
  EXPECT_TRUE(CheckUpdate());
  EXPECT_EQ(ProductInfo.message.Get(), L"from the second");
  EXPECT_EQ(Shown(), L"from the second\r\n") << "nothing about the first mirror reaches the window";
  std::vector<std::wstring> info = InfoLog();
  ASSERT_GE(info.size(), 3u);
  EXPECT_EQ(info[0], L"c\r\n");
  EXPECT_EQ(info[1], L"c.\r\n");
}

TEST_F(UpdateHttpTest, RedirectsAreNotFollowedAndCountAsFailed) {
  const std::wstring target = Doc(Document("0.04", "redirected"));
  for (int code : {301, 302, 303}) {
    SCOPED_TRACE(code);
    std::wstring url = Server() + L"/status/" + std::to_wstring(code) + L"?to=" + Escape(WideToUtf8(target));
    std::string bytes;
    EXPECT_TRUE(Fetch(url, &bytes)) << "a redirect is an answer";
    EXPECT_EQ(bytes.size(), 0u) << "with no data";
    SetMirrorsForTest({url});
    EXPECT_FALSE(CheckUpdate());
    SetMirrorsForTest({url, Doc(Document("0.03", "after the redirect"))});
    EXPECT_TRUE(CheckUpdate());
    EXPECT_EQ(ProductInfo.message.Get(), L"after the redirect");
  }
  EXPECT_EQ(Shown().find(L"redirected"), std::wstring::npos);
}

TEST_F(UpdateHttpTest, NotFoundAndOtherStatusesFail) {
  std::string bytes;
  EXPECT_FALSE(Fetch(Server() + L"/status/404", &bytes));
  EXPECT_FALSE(Fetch(Server() + L"/status/500", &bytes));
  EXPECT_FALSE(Fetch(Server() + L"/nothing-here", &bytes));
  SetMirrorsForTest({Server() + L"/status/404"});
  EXPECT_FALSE(CheckUpdate());
  EXPECT_EQ(Shown(), L"");
}

TEST_F(UpdateHttpTest, MalformedDocumentMakesTheNextMirrorBeTried) {
  const std::wstring broken = Doc("<ROOT><version>9.9</version><message>broken</ROOT>");
  SetMirrorsForTest({broken});
  EXPECT_FALSE(CheckUpdate());
  EXPECT_EQ(ProductInfo.serverVersion.Get(), L"");
  SetMirrorsForTest({broken, Doc(""), Doc(Document("0.05", "good"))});
  EXPECT_TRUE(CheckUpdate()) << "an empty document is skipped as well";
  EXPECT_EQ(ProductInfo.serverVersion.Get(), L"0.05");
  EXPECT_EQ(Shown(), L"good\r\n");
}

TEST_F(UpdateHttpTest, WellFormedDocumentWithoutRootEndsTheCheck) {
  InfoLogOn();
  SetMirrorsForTest({Doc("<config><version>9.9</version></config>"), Doc(Document("0.05", "never read"))});
  EXPECT_FALSE(CheckUpdate());
  EXPECT_EQ(InfoLog(), (std::vector<std::wstring>{L"c\r\n", L"c.\r\n", L"SerializeFromXml:ROOT failed\r\n"}));
}

TEST_F(UpdateHttpTest, DownloadsAreCutAt204792BytesFollowedBySixZeros) {
  std::string bytes;
  ASSERT_TRUE(Fetch(Server() + L"/big?size=204792", &bytes));
  EXPECT_EQ(bytes.size(), 204792u);
  EXPECT_EQ(bytes.substr(bytes.size() - 7), "</ROOT>") << "a document of exactly the room arrives whole";
  EXPECT_EQ(trailingZeros_, 6u);
  ASSERT_TRUE(Fetch(Server() + L"/big?size=204793", &bytes));
  EXPECT_EQ(bytes.size(), 204792u);
  EXPECT_EQ(trailingZeros_, 6u);
  ASSERT_TRUE(Fetch(Server() + L"/big?size=300000", &bytes));
  EXPECT_EQ(bytes.size(), 204792u);
  SetMirrorsForTest({Server() + L"/big?size=300000"});
  EXPECT_FALSE(CheckUpdate()) << "the cut document is not used";
  SetMirrorsForTest({Server() + L"/big?size=300000", Doc(Document("0.05", "small"))});
  EXPECT_TRUE(CheckUpdate());
  EXPECT_EQ(ProductInfo.message.Get(), L"small");
}

TEST_F(UpdateHttpTest, ServerThatNeverAnswersTimesOut) {
  std::string bytes;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Fetch(Server() + L"/hang", &bytes));
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 10.0) << "the receive time-out (1 s here) holds";
  SetMirrorsForTest({Server() + L"/hang", Doc(Document("0.05", "answered"))});
  EXPECT_TRUE(CheckUpdate());
  EXPECT_EQ(ProductInfo.message.Get(), L"answered");
}

TEST_F(UpdateHttpTest, EveryRequestEndsByItsTotalDeadlineAndSlowSteadyBytesCountAsProgress) {
  platform::HttpOptions o;
  o.userAgent = L"vq.l";
  o.connectTimeoutMs = 1000;
  o.receiveTimeoutMs = 2000;
  o.totalTimeoutMs = 3000;
  SetHttpOptionsForTest(&o);
  // A byte every 0.25 s never leaves the line quiet, and would go on for 25 s.
  std::string bytes;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Fetch(Server() + L"/trickle?n=100&every=250", &bytes));
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(seconds, 2.5);
  EXPECT_LT(seconds, 8.0) << "the total deadline (3 s here) holds";

  // Sixteen bytes, 0.25 s apart: 4 s in all, longer than connect and receive time-out together,
  // which only a wait that counts bytes (not whole buffers) lets through.
  o.totalTimeoutMs = 20000;
  SetHttpOptionsForTest(&o);
  EXPECT_TRUE(Fetch(Server() + L"/trickle?n=16&every=250", &bytes));
  EXPECT_EQ(bytes, std::string(16, 'x'));
}

TEST_F(UpdateHttpTest, BytesThatAreNotUtf8BecomeReplacementCharacters) {
  // "你好" in GBK: C4 E3 BA C3.
  SetMirrorsForTest({Doc(Document("0.05", "gbk:\xC4\xE3\xBA\xC3:end"))});
  EXPECT_TRUE(CheckUpdate());
  EXPECT_EQ(ProductInfo.message.Get(), L"gbk:\uFFFD\uFFFD\uFFFD:end");
  EXPECT_EQ(Shown(), L"gbk:\uFFFD\uFFFD\uFFFD:end\r\n");
  // An encoding declaration is not consulted either: the bytes are read as UTF-8.
  SetMirrorsForTest({Doc("<?xml version=\"1.0\" encoding=\"gbk\"?><ROOT><version>\xC4\xE3</version></ROOT>")});
  EXPECT_TRUE(CheckUpdate());
  EXPECT_EQ(ProductInfo.serverVersion.Get(), L"\uFFFD\uFFFD");
}

TEST_F(UpdateHttpTest, ThreadRunsOneCheckForTwoQuickRequestsAndEndsAfterAFailure) {
  // Both requests come in while the thread still waits before its first poll.
  UpdateTimings quick{300, 0, 50};
  SetUpdateTimingsForTest(&quick);
  const std::wstring counted = Doc(Document("0.05", "counted"), "quick");
  SetMirrorsForTest({counted});
  NoWindow host;
  ASSERT_TRUE(platform::StartThread([] { UpdateThreadFun(); }));
  OnMenuCommand(ID_MENUITEM_CHECK_UPDATE, host);
  OnMenuCommand(ID_MENUITEM_CHECK_UPDATE, host);
  const std::wstring current = L"当前版本[0.05]是最新版本!\r\n";
  for (int i = 0; i < 200 && Shown().find(current) == std::wstring::npos; ++i) platform::SleepMs(50);
  platform::SleepMs(500);  // ten more polls
  EXPECT_EQ(Count(Shown(), current), 1u);
  EXPECT_EQ(Hits("quick"), 1);

  SetMirrorsForTest({RefusedMirror()});
  OnMenuCommand(ID_MENUITEM_CHECK_UPDATE, host);
  const std::wstring failed = L"连接服务器失败，请检查你的网络..\r\n";
  for (int i = 0; i < 200 && Shown().find(failed) == std::wstring::npos; ++i) platform::SleepMs(50);
  ASSERT_NE(Shown().find(failed), std::wstring::npos);
  const size_t mark = Shown().size();

  SetMirrorsForTest({counted});
  OnMenuCommand(ID_MENUITEM_CHECK_UPDATE, host);
  platform::SleepMs(500);
  EXPECT_EQ(Shown().substr(mark), L"check updata..\r\n") << "no thread serves requests any more";
  EXPECT_EQ(Hits("quick"), 1);
  EXPECT_EQ(ProductInfo.checkRequest.load(), 1);
}
