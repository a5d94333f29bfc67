#include "platform/Shell.h"

#include <windows.h>
#include <shellapi.h>

#include <vector>

namespace vq::platform {

namespace {

struct Search {
  DWORD process;
  HWND found;
};

BOOL CALLBACK FindOurMarkedWindow(HWND w, LPARAM lp) {
  auto* s = reinterpret_cast<Search*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid == s->process && reinterpret_cast<INT_PTR>(GetPropW(w, L"vq.lumen")) == 1) {
    s->found = w;
    return FALSE;
  }
  return TRUE;
}

bool ShellOpen(const wchar_t* file, const wchar_t* parameters) {
  HINSTANCE r = ShellExecuteW(nullptr, L"open", file, parameters, nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<INT_PTR>(r) > 32;
}

}  // namespace

bool OpenUrl(const std::wstring& url) { return ShellOpen(url.c_str(), nullptr); }

bool OpenUrlInNamedBrowser(const std::wstring& url) { return ShellOpen(L"iexplore.exe", url.c_str()); }

void* FindMainWindow() {
  Search s = {GetCurrentProcessId(), nullptr};
  EnumWindows(FindOurMarkedWindow, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

void ShowInfoMessage(void* window, const std::wstring& text, const std::wstring& caption) {
  MessageBoxW(static_cast<HWND>(window), text.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION);
}

void PostCancelCommand(void* window) {
  if (window) PostMessageW(static_cast<HWND>(window), WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
}

std::wstring ReadProfileString(const std::wstring& path, const std::wstring& section, const std::wstring& key,
                               size_t maxChars) {
  std::vector<wchar_t> buf(maxChars + 1, L'\0');
  GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", buf.data(), static_cast<DWORD>(buf.size()), path.c_str());
  return std::wstring(buf.data());
}

}  // namespace vq::platform
