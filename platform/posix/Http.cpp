#include "platform/Http.h"

#include <curl/curl.h>

#include <mutex>
#include <string>

#include "common/Text.h"

namespace vq::platform {

namespace {

struct Transfer {
  CURL* curl = nullptr;
  HttpReceiver* receiver = nullptr;
  bool statusTold = false;
  bool wantBody = true;
  // Set when we, not the network, ended the transfer.
  bool stoppedByUs = false;

  bool TellStatus() {
    if (statusTold) return wantBody;
    statusTold = true;
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    wantBody = receiver->OnStatus(static_cast<uint32_t>(code));
    return wantBody;
  }
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  size_t n = size * count;
  if (!t->TellStatus()) {
    t->stoppedByUs = true;
    return 0;
  }
  // Hand the data on in pieces no larger than the Windows build reads.
  for (size_t done = 0; done < n;) {
    size_t piece = n - done < kHttpChunkSize ? n - done : kHttpChunkSize;
    if (!t->receiver->OnData(data + done, piece)) {
      t->stoppedByUs = true;
      return 0;
    }
    done += piece;
  }
  return n;
}

bool IsHttpUrl(const std::string& u) {
  auto starts = [&](const char* p) { return u.compare(0, std::char_traits<char>::length(p), p) == 0; };
  return starts("http://") || starts("https://");
}

}  // namespace

bool HttpGet(const std::wstring& url, const HttpOptions& options, HttpReceiver& receiver) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  std::string u = WideToUtf8(url);
  if (!IsHttpUrl(u)) return false;
  CURL* curl = curl_easy_init();
  if (!curl) return false;
  Transfer t;
  t.curl = curl;
  t.receiver = &receiver;
  std::string agent = WideToUtf8(options.userAgent);
  curl_easy_setopt(curl, CURLOPT_URL, u.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.c_str());
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeoutMs));
  // libcurl tries each address of the host once within the connect time-out, as WinINet does
  // with one connect attempt; it has no retry count of its own.
  // Silence for the receive time-out (whole seconds, at least one) ends the transfer.
  long quietSeconds = static_cast<long>((options.receiveTimeoutMs + 999) / 1000);
  if (quietSeconds < 1) quietSeconds = 1;
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, quietSeconds);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(options.totalTimeoutMs));
  curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
  CURLcode rc = curl_easy_perform(curl);
  bool ok = false;
  if (rc == CURLE_OK) {
    // A body-less answer (a 404 or a redirect without content) reports its status here.
    t.TellStatus();
    ok = true;
  } else if (rc == CURLE_WRITE_ERROR && t.stoppedByUs) {
    ok = true;
  }
  curl_easy_cleanup(curl);
  return ok;
}

}  // namespace vq::platform
