#include "platform/Process.h"

#include <windows.h>

#include <cwchar>
#include <string>

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

namespace {
const wchar_t kRestartOrigin[] = L"VQ_LUMEN_RESTART_FROM";

std::wstring ImageOf(HANDLE process) {
  wchar_t buf[MAX_PATH * 4];
  DWORD n = static_cast<DWORD>(sizeof buf / sizeof buf[0]);
  return QueryFullProcessImageNameW(process, 0, buf, &n) ? std::wstring(buf, n) : std::wstring();
}

std::wstring OwnImage() {
  wchar_t buf[MAX_PATH * 4];
  DWORD n = GetModuleFileNameW(nullptr, buf, static_cast<DWORD>(sizeof buf / sizeof buf[0]));
  return std::wstring(buf, n);
}

// An open handle to pid when it is a process of this program; nullptr otherwise.
HANDLE OpenOwnProgram(uint32_t pid) {
  if (pid == 0) return nullptr;
  HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!h) return nullptr;
  std::wstring image = ImageOf(h);
  if (image.empty() || CompareStringOrdinal(image.c_str(), -1, OwnImage().c_str(), -1, TRUE) != CSTR_EQUAL) {
    CloseHandle(h);
    return nullptr;
  }
  return h;
}
}  // namespace

void ReplaceWithOwnImage(const std::vector<std::string>&, const std::vector<std::string>&) {}

void MarkRestartOrigin() { SetEnvironmentVariableW(kRestartOrigin, std::to_wstring(GetCurrentProcessId()).c_str()); }

bool TakeRestartOrigin(uint32_t* pid) {
  wchar_t buf[32];
  DWORD n = GetEnvironmentVariableW(kRestartOrigin, buf, 32);
  if (n == 0 || n >= 32) return false;
  *pid = static_cast<uint32_t>(wcstoul(buf, nullptr, 10));
  SetEnvironmentVariableW(kRestartOrigin, nullptr);
  return true;
}

bool IsProcessOfThisProgram(uint32_t pid) {
  HANDLE h = OpenOwnProgram(pid);
  if (!h) return false;
  const bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  CloseHandle(h);
  return running;
}

bool WaitForProcessEnd(uint32_t pid, unsigned timeoutMs) {
  if (pid == GetCurrentProcessId()) return true;
  HANDLE h = OpenOwnProgram(pid);
  if (!h) return true;
  const bool ended = WaitForSingleObject(h, timeoutMs) != WAIT_TIMEOUT;
  CloseHandle(h);
  return ended;
}

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

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
