#include "update/UpdateCheck.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "common/Text.h"
#include "platform/Clock.h"
#include "platform/Shell.h"
#include "platform/Thread.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"
#include "update/ProductInfo.h"
#include "xml/XmlDocument.h"

namespace vq::update {

namespace {

constexpr size_t kUpdateThreadStack = 0x100000;
constexpr wchar_t kPromptFormat[] =
    L"本软件需要升级才能继续使用，因为软件已有最新版本!\r\n请点击确认按钮进入如下所示的官方下载页面重新下载本软件!\r\n%"
    L"s";
constexpr wchar_t kPromptCaption[] = L"请升级本软件!!";

std::mutex g_configLock;
std::vector<std::wstring> g_mirrorsForTest;
std::optional<platform::HttpOptions> g_httpOptionsForTest;
std::optional<UpdateTimings> g_timingsForTest;
std::function<bool()> g_threadStarterForTest;

UpdateShell g_platformShell;
std::atomic<UpdateShell*> g_shell{&g_platformShell};

platform::HttpOptions HttpOptionsInUse() {
  std::lock_guard<std::mutex> g(g_configLock);
  if (g_httpOptionsForTest) return *g_httpOptionsForTest;
  platform::HttpOptions o;
  o.userAgent = kAppName;
  return o;
}

UpdateTimings TimingsInUse() {
  std::lock_guard<std::mutex> g(g_configLock);
  return g_timingsForTest ? *g_timingsForTest : UpdateTimings{};
}

// Collects the body of a 200 answer into the caller's buffer, keeping 8 bytes of it free.
class BufferReceiver : public platform::HttpReceiver {
 public:
  BufferReceiver(char* buffer, size_t capacity) : buffer_(buffer), limit_(capacity - 8) {}

  bool OnStatus(uint32_t status) override {
    status_ = status;
    return status == 200;
  }
  bool OnData(const char* data, size_t size) override {
    if (stored_ + size < limit_) {
      std::memcpy(buffer_ + stored_, data, size);
      stored_ += size;
      return true;
    }
    // The rest is cut off without an error.
    std::memcpy(buffer_ + stored_, data, limit_ - stored_);
    stored_ = limit_;
    return false;
  }
  uint32_t status() const { return status_; }
  size_t stored() const { return stored_; }

 private:
  char* buffer_;
  size_t limit_;
  size_t stored_ = 0;
  uint32_t status_ = 0;
};

bool IsAsciiAlnum(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
}

}  // namespace

bool UpdateShell::OpenDefault(const std::wstring& url) { return platform::OpenUrl(url); }
bool UpdateShell::OpenNamedBrowser(const std::wstring& url) { return platform::OpenUrlInNamedBrowser(url); }
void UpdateShell::ShowMessage(void* window, const std::wstring& text, const std::wstring& caption) {
  platform::ShowInfoMessage(window, text, caption);
}
void UpdateShell::CloseMainWindow(void* window) { platform::PostCancelCommand(window); }

void SetUpdateShell(UpdateShell* shell) { g_shell.store(shell ? shell : &g_platformShell); }

void SetMirrorsForTest(std::vector<std::wstring> mirrors) {
  std::lock_guard<std::mutex> g(g_configLock);
  g_mirrorsForTest = std::move(mirrors);
}

std::vector<std::wstring> Mirrors() {
  {
    std::lock_guard<std::mutex> g(g_configLock);
    if (!g_mirrorsForTest.empty()) return g_mirrorsForTest;
  }
  return ConfiguredMirrors();
}

void SetHttpOptionsForTest(const platform::HttpOptions* options) {
  std::lock_guard<std::mutex> g(g_configLock);
  if (options)
    g_httpOptionsForTest = *options;
  else
    g_httpOptionsForTest.reset();
}

void SetUpdateTimingsForTest(const UpdateTimings* timings) {
  std::lock_guard<std::mutex> g(g_configLock);
  if (timings)
    g_timingsForTest = *timings;
  else
    g_timingsForTest.reset();
}

void SetUpdateThreadStarterForTest(std::function<bool()> starter) {
  std::lock_guard<std::mutex> g(g_configLock);
  g_threadStarterForTest = std::move(starter);
}

bool IsNewerVersion(const std::wstring& serverVersion, const std::wstring& ownVersion) {
  // char16_t compares unsigned, unit by unit, as the wide-string comparison of the Windows build.
  return WideToUtf16(serverVersion) > WideToUtf16(ownVersion);
}

bool IsOpenableWebPage(const std::wstring& url) {
  size_t schemeEnd = url.find(L"://");
  if (schemeEnd == std::wstring::npos) return false;
  std::wstring scheme = AsciiLower(url.substr(0, schemeEnd));
  if (scheme != L"http" && scheme != L"https") return false;
  // A host must follow: "http:///x" or "http://" alone name no web server.
  size_t host = schemeEnd + 3;
  if (host >= url.size() || !IsAsciiAlnum(url[host])) return false;
  // Blanks and quotes could end the address inside a command line and start an argument.
  for (wchar_t c : url)
    if (c <= 0x20 || c == 0x7F || c == L'"' || c == L'\\' || c == L'<' || c == L'>' || c == L'^' || c == L'`' ||
        c == L'|' || c == 0x85 || c == 0xA0 || c == 0x2028 || c == 0x2029 || c == 0x3000)
      return false;
  return true;
}

void RequestUpdateCheck() { ProductInfo.checkRequest.store(1); }

bool StartUpdateThread() {
  std::function<bool()> starter;
  {
    std::lock_guard<std::mutex> g(g_configLock);
    starter = g_threadStarterForTest;
  }
  if (starter) return starter();
  return platform::StartThread([] { UpdateThreadFun(); }, kUpdateThreadStack);
}

int UpdateThreadFun() {
  UpdateTimings t = TimingsInUse();
  platform::SleepMs(t.firstWaitMs);
  platform::SleepMs(t.secondWaitMs);
  while (UpdateThreadStep()) platform::SleepMs(TimingsInUse().pollMs);
  WriteLog(L"连接服务器失败，请检查你的网络..\r\n");
  return 1;
}

bool UpdateThreadStep() {
  if (ProductInfo.checkRequest.load() != 1) return true;
  bool ok = CheckUpdate();
  // A request that came in while the check ran is dropped here.
  ProductInfo.checkRequest.store(0);
  if (!ok) return false;
  const std::wstring own = ProductInfo.ver.Get();
  if (IsNewerVersion(ProductInfo.serverVersion.Get(), own))
    PromptUpgrade();
  else
    WriteLog(L"当前版本[%s]是最新版本!\r\n", own);
  return true;
}

bool CheckUpdate() {
  XmlDocument doc;
  WriteInfoLog(L"c\r\n");
  bool fetched = false;
  for (const std::wstring& url : Mirrors()) {
    if (FetchConfig(url, doc)) {
      fetched = true;
      break;
    }
  }
  if (!fetched) return false;
  WriteInfoLog(L"c.\r\n");
  return SerializeFromXml(doc);
}

bool FetchConfig(const std::wstring& url, XmlDocument& doc) {
  std::vector<char> buffer(kDownloadBufferBytes, 0);
  size_t length = buffer.size();
  if (!Download2Mem(url, buffer.data(), &length)) return false;
  const char* end = std::find(buffer.data(), buffer.data() + length, '\0');
  std::wstring text = Utf8ToWide(std::string_view(buffer.data(), static_cast<size_t>(end - buffer.data())));
  // The converted text, terminator included, must fit the buffer as UTF-16.
  const size_t units = WideToUtf16(text).size();
  if (text.empty() || (units + 1) * 2 > kDownloadBufferBytes) return false;
  return doc.SetText(text);
}

bool Download2Mem(const std::wstring& url, char* buffer, size_t* length) {
  const size_t capacity = *length;
  if (capacity <= 8) {
    WriteInfoLog(L"Download2Mem bufLen <=8 \r\n");
    return false;
  }
  *length = 0;
  BufferReceiver receiver(buffer, capacity);
  if (!platform::HttpGet(url, HttpOptionsInUse(), receiver)) return false;
  switch (receiver.status()) {
    case 200:
      std::memset(buffer + receiver.stored(), 0, 6);
      *length = receiver.stored();
      return true;
    case 301:
    case 302:
    case 303:
      // Redirects are not followed: no data, so the caller goes on to the next mirror.
      return true;
    default:
      return false;
  }
}

// Every text of the document is the server's, and the plain-HTTP mirrors go through any proxy
// on the way: what it says reaches the log, the terminal and the prompt only with its control
// characters escaped, so it can neither forge a line of its own nor steer the terminal. The
// values themselves are kept as they came (the page's address is judged whole before opening).
bool SerializeFromXml(XmlDocument& doc) {
  if (!doc.FindNext(L"ROOT")) {
    WriteInfoLog(L"SerializeFromXml:ROOT failed\r\n");
    return false;
  }
  doc.Descend();
  if (doc.FindNext(L"version")) {
    std::wstring v = CutToField(doc.ElementText(), kVersionFieldUnits);
    ProductInfo.serverVersion.Set(v);
    WriteInfoLogLine(EscapeControlCharacters(v));
  }
  if (doc.FindNext(L"message")) {
    std::wstring m = CutToField(doc.ElementText(), kTextFieldUnits);
    ProductInfo.message.Set(m);
    WriteInfoLogLine(EscapeControlCharacters(m));
    WriteInfoLogLine(L":p");
    WriteLog(L"%s\r\n", EscapeControlCharacters(m));
  }
  if (doc.FindNext(L"softpage")) {
    std::wstring s = CutToField(doc.ElementText(), kTextFieldUnits);
    ProductInfo.softpage.Set(s);
    WriteInfoLogLine(EscapeControlCharacters(s));
  }
  if (doc.FindNext(L"wopenflag")) {
    std::wstring f = CutToField(doc.ElementText(), kTextFieldUnits);
    ProductInfo.openFlag.Set(f);
    WriteInfoLogLine(EscapeControlCharacters(f));
  }
  if (doc.FindNext(L"wopen") && doc.FindChild()) {
    doc.Descend();
    do {
      std::wstring url = CutToField(doc.ElementText(), kTextFieldUnits);
      ProductInfo.urls.Add(url);
      WriteInfoLogLine(EscapeControlCharacters(url));
    } while (doc.FindNext());
    doc.Ascend();
    WriteInfoLogLine(L"成功连接至服务器，请阅读以上收到的最新提示消息。");
  }
  doc.Ascend();
  WriteInfoLog(L"c..\r\n");
  WriteInfoLogLine(EscapeControlCharacters(ProductInfo.message.Get()));
  return true;
}

void PromptUpgrade() {
  const std::wstring page = ProductInfo.softpage.Get();
  // The prompt's buffer holds 1,024 units; a download page too long for it is cut in the text.
  std::wstring text = CutToField(WFormat(kPromptFormat, EscapeControlCharacters(page)), kTextFieldUnits);
  OpenWebPage(page);
  ProductInfo.updata.store(1);
  void* window = ProductInfo.hWnd.load();
  UpdateShell* shell = g_shell.load();
  shell->ShowMessage(window, text, kPromptCaption);
  platform::SleepMs(100);
  shell->CloseMainWindow(window);
}

std::wstring EscapeControlCharacters(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    const uint32_t u = static_cast<uint32_t>(c);
    // C0, DEL, C1 and the Unicode line and paragraph separators: anything that could start a
    // line of its own in the log or steer a terminal that shows it.
    if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) || u == 0x2028 || u == 0x2029) {
      static const wchar_t hex[] = L"0123456789ABCDEF";
      const int digits = u < 0x100 ? 2 : 4;
      out += u < 0x100 ? L"\\x" : L"\\u";
      for (int d = digits - 1; d >= 0; --d) out.push_back(hex[(u >> (4 * d)) & 15]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

bool OpenWebPage(const std::wstring& url) {
  if (!IsOpenableWebPage(url)) {
    // The address comes from the server's document: it must not write lines of its own.
    WriteLog(L"下载页面不是http或https网址,没有打开:[%s]\r\n", EscapeControlCharacters(url));
    return false;
  }
  UpdateShell* shell = g_shell.load();
  // The named browser only when the default handler failed: opening both gave the user the
  // page twice.
  bool opened = shell->OpenDefault(url);
  platform::SleepMs(500);
  if (!opened) {
    opened = shell->OpenNamedBrowser(url);
    platform::SleepMs(500);
  }
  return opened;
}

}  // namespace vq::update
