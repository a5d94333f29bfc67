#include "platform/CodePage.h"

#include <windows.h>

namespace vq::platform {

namespace {
std::string To(UINT cp, const std::wstring& s) {
  if (s.empty()) return {};
  int n = WideCharToMultiByte(cp, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(cp, 0, s.data(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
  return out;
}
}  // namespace

std::string WideToOem(const std::wstring& s) { return To(CP_OEMCP, s); }
std::string WideToAnsi(const std::wstring& s) { return To(CP_THREAD_ACP, s); }
bool OemIsUtf8() { return GetOEMCP() == CP_UTF8; }

std::wstring AnsiToWide(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_THREAD_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_THREAD_ACP, 0, s.data(), static_cast<int>(s.size()), &out[0], n);
  return out;
}

}  // namespace vq::platform
