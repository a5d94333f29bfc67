#include "platform/Http.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vq::platform {

namespace {

class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET h = nullptr) : h_(h) {}
  ~InternetHandle() {
    if (h_) InternetCloseHandle(h_);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HINTERNET h_;
};

void SetDwordOption(HINTERNET h, DWORD option, DWORD value) { InternetSetOptionW(h, option, &value, sizeof value); }

// One GET shared between the thread that does it and the caller who waits for it. The caller
// may give up on a transfer that stalls; from then on the receiver is never called again and
// the transfer's thread ends on its own when the network lets it.
struct Transfer {
  std::wstring url;
  HttpOptions options;
  HttpReceiver* receiver = nullptr;

  std::mutex m;
  std::condition_variable changed;
  std::chrono::steady_clock::time_point lastProgress = std::chrono::steady_clock::now();
  bool done = false;
  bool abandoned = false;
  bool result = false;

  void Progress() {
    std::lock_guard<std::mutex> g(m);
    lastProgress = std::chrono::steady_clock::now();
    changed.notify_all();
  }
  // Runs fn(receiver) unless the caller gave up; false when it did.
  template <class Fn>
  bool Tell(Fn fn, bool* answer) {
    std::lock_guard<std::mutex> g(m);
    if (abandoned) return false;
    lastProgress = std::chrono::steady_clock::now();
    *answer = fn(*receiver);
    return true;
  }
};

bool Run(Transfer& t) {
  const std::wstring& url = t.url;
  // Split the URL first: nothing is opened for a URL that is not http or https.
  std::wstring host(256, L'\0');
  std::wstring path(url.size() + 1, L'\0');
  std::wstring extra(url.size() + 1, L'\0');
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = &host[0];
  parts.dwHostNameLength = static_cast<DWORD>(host.size());
  parts.lpszUrlPath = &path[0];
  parts.dwUrlPathLength = static_cast<DWORD>(path.size());
  parts.lpszExtraInfo = &extra[0];
  parts.dwExtraInfoLength = static_cast<DWORD>(extra.size());
  if (!InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return false;
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return false;
  host.resize(parts.dwHostNameLength);
  path.resize(parts.dwUrlPathLength);
  extra.resize(parts.dwExtraInfoLength);
  std::wstring object = path.empty() ? L"/" : path;
  object += extra;

  const HttpOptions& o = t.options;
  InternetHandle session(InternetOpenW(o.userAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return false;
  SetDwordOption(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, o.connectTimeoutMs);
  SetDwordOption(session.get(), INTERNET_OPTION_CONNECT_RETRIES, o.connectRetries);
  SetDwordOption(session.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, o.receiveTimeoutMs);
  SetDwordOption(session.get(), INTERNET_OPTION_SEND_TIMEOUT, o.receiveTimeoutMs);

  InternetHandle connection(
      InternetConnectW(session.get(), host.c_str(), parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 1));
  if (!connection) return false;
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_DONT_CACHE | INTERNET_FLAG_NO_AUTO_REDIRECT |
                INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;
  if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  InternetHandle request(
      HttpOpenRequestW(connection.get(), L"GET", object.c_str(), nullptr, nullptr, nullptr, flags, 1));
  if (!request) return false;
  if (!HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0)) return false;
  t.Progress();

  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
    return false;
  bool wantBody = false;
  if (!t.Tell([&](HttpReceiver& r) { return r.OnStatus(status); }, &wantBody)) return false;
  if (!wantBody) return true;

  std::vector<char> chunk(kHttpChunkSize);
  for (;;) {
    // A synchronous read waits until its whole buffer is full: ask only for what has arrived,
    // so every byte counts as progress and a slow but steady server is not given up on.
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request.get(), &available, 0, 0)) return false;
    if (available == 0) return true;
    t.Progress();
    DWORD want = available < chunk.size() ? available : static_cast<DWORD>(chunk.size());
    DWORD got = 0;
    if (!InternetReadFile(request.get(), chunk.data(), want, &got)) return false;
    if (got == 0) return true;
    bool more = false;
    if (!t.Tell([&](HttpReceiver& r) { return r.OnData(chunk.data(), got); }, &more)) return false;
    if (!more) return true;
  }
}

}  // namespace

bool HttpGet(const std::wstring& url, const HttpOptions& options, HttpReceiver& receiver) {
  auto t = std::make_shared<Transfer>();
  t->url = url;
  t->options = options;
  t->receiver = &receiver;
  try {
    std::thread([t] {
      bool ok = Run(*t);
      std::lock_guard<std::mutex> g(t->m);
      t->result = ok;
      t->done = true;
      t->changed.notify_all();
    }).detach();
  } catch (...) {
    return false;
  }
  // WinINet does not always apply its receive time-out while it waits for the answer, so the
  // caller keeps its own: a transfer that makes no progress for the connect and the receive
  // time-out together is given up.
  const auto quiet =
      std::chrono::milliseconds(options.connectTimeoutMs) + std::chrono::milliseconds(options.receiveTimeoutMs);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.totalTimeoutMs);
  std::unique_lock<std::mutex> lock(t->m);
  while (!t->done) {
    const auto giveUp = std::min(t->lastProgress + quiet, deadline);
    if (t->changed.wait_until(lock, giveUp) == std::cv_status::timeout && !t->done) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline || now >= t->lastProgress + quiet) {
        t->abandoned = true;
        return false;
      }
    }
  }
  return t->result;
}

}  // namespace vq::platform
