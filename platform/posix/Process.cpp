#include "platform/Process.h"

#include <unistd.h>

#include <string>

#include "common/Text.h"
#include "platform/File.h"

namespace vq::platform {

std::wstring CommandLine() {
  std::string raw;
  if (!ReadWholeFile(L"/proc/self/cmdline", &raw)) return L"";
  // Arguments are NUL-separated; show them blank-separated like a Windows command line.
  while (!raw.empty() && raw.back() == '\0') raw.pop_back();
  for (char& c : raw)
    if (c == '\0') c = ' ';
  return Utf8ToWide(raw);
}

void CreateRunningMarker() {}

uint32_t DesktopHandleValue() { return static_cast<uint32_t>(getpid()); }

}  // namespace vq::platform
