#include "platform/Process.h"

#include <windows.h>

namespace vq::platform {

std::wstring CommandLine() {
  const wchar_t* c = GetCommandLineW();
  return c ? c : L"";
}

void CreateRunningMarker() {
  static HANDLE marker = CreateEventW(nullptr, FALSE, FALSE, L"hVQRUNNING");
  (void)marker;
}

bool StartProgram(const std::wstring& path, const std::wstring& commandLine) {
  std::wstring cmd = commandLine;  // CreateProcessW may write into it
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(path.c_str(), cmd.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr, &si,
                      &pi))
    return false;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

uint32_t DesktopHandleValue() { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(GetDesktopWindow())); }

}  // namespace vq::platform

namespace vq::platform {

uint32_t ProcessId() { return static_cast<uint32_t>(GetCurrentProcessId()); }

std::wstring HostName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &n)) return L"";
  return std::wstring(name, n);
}

bool ProcessRunning(uint32_t pid) {
  HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!h) return GetLastError() != ERROR_INVALID_PARAMETER;  // no such process
  DWORD code = 0;
  bool running = !GetExitCodeProcess(h, &code) || code == STILL_ACTIVE;
  CloseHandle(h);
  return running;
}

}  // namespace vq::platform
