#include "platform/Http.h"

#include <windows.h>
#include <wininet.h>

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

}  // namespace

bool HttpGet(const std::wstring& url, const HttpOptions& options, HttpReceiver& receiver) {
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

  InternetHandle session(InternetOpenW(options.userAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return false;
  SetDwordOption(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, options.connectTimeoutMs);
  SetDwordOption(session.get(), INTERNET_OPTION_CONNECT_RETRIES, options.connectRetries);
  SetDwordOption(session.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, options.receiveTimeoutMs);
  SetDwordOption(session.get(), INTERNET_OPTION_SEND_TIMEOUT, options.receiveTimeoutMs);

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

  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
    return false;
  if (!receiver.OnStatus(status)) return true;

  std::vector<char> chunk(kHttpChunkSize);
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(request.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &got)) return false;
    if (got == 0) return true;
    if (!receiver.OnData(chunk.data(), got)) return true;
  }
}

}  // namespace vq::platform
