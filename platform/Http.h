// HTTP GET for the update check. Windows: WinINet with the system's proxy configuration;
// POSIX: libcurl, which takes its proxy from the usual environment variables. Redirects are
// never followed: the caller sees the 3xx status itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vq::platform {

struct HttpOptions {
  std::wstring userAgent;
  uint32_t connectTimeoutMs = 2000;
  // WinINet's connect-retries option: the number of connect attempts per address of the host.
  uint32_t connectRetries = 1;
  // Longest silence while waiting for the answer or the next piece of the body. Without it a
  // server that accepts the connection and never answers would hold the caller for good.
  uint32_t receiveTimeoutMs = 15000;
  // Longest whole request, from the connect to the last byte. Without it a server that sends a
  // byte now and then, each within the receive time-out, would hold the caller for days.
  uint32_t totalTimeoutMs = 60000;
};

// Gets told the status once, then, if it asked for the body, the body piece by piece.
class HttpReceiver {
 public:
  virtual ~HttpReceiver() = default;
  // True: read the body. False: the body is not read and the request ends successfully.
  virtual bool OnStatus(uint32_t status) = 0;
  // True: go on reading. False: stop reading; not a failure.
  virtual bool OnData(const char* data, size_t size) = 0;
};

// Largest piece handed to OnData in one call.
inline constexpr size_t kHttpChunkSize = 10240;

// One GET of url (http:// or https://). False when no status arrived (bad URL, connect, send,
// time-out) or when reading the body failed part-way; every handle is closed on every path.
bool HttpGet(const std::wstring& url, const HttpOptions& options, HttpReceiver& receiver);

}  // namespace vq::platform
