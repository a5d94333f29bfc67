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

uint32_t DesktopHandleValue() { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(GetDesktopWindow())); }

}  // namespace vq::platform
