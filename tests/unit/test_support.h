// Small helpers shared by the unit tests.
#pragma once

#include <atomic>
#include <cstdlib>
#include <string>

#include "common/Text.h"
#include "platform/Clock.h"
#include "platform/File.h"
#include "platform/Paths.h"

namespace vqtest {

// A fresh directory under the temporary path, ending in a separator.
inline std::wstring MakeScratchDir(const std::wstring& name) {
  static std::atomic<int> counter{0};
  std::wstring base = vq::platform::TempPathLong();
  std::wstring dir = base + L"vq-test-" + name + L"-" + std::to_wstring(vq::platform::TickCount()) + L"-" +
                     std::to_wstring(counter.fetch_add(1)) + vq::platform::PathSeparator();
  vq::platform::CreateDirectoryTree(dir);
  return dir;
}

// The POSIX stand-ins of the registry and the autostart entry live under XDG_CONFIG_HOME; point
// it at a scratch directory so tests never touch the user's own. (Windows: the wine prefix of the
// build tree is private already.)
inline void PointConfigAt(const std::wstring& dir) {
#ifndef _WIN32
  setenv("XDG_CONFIG_HOME", vq::WideToUtf8(dir + L"config").c_str(), 1);
#else
  (void)dir;
#endif
}

inline std::string ReadAll(const std::wstring& path) {
  std::string s;
  vq::platform::ReadWholeFile(path, &s);
  return s;
}

// The UTF-16LE bytes of a log file (after the BOM) as wide text.
inline std::wstring DecodeLog(const std::string& bytes) {
  std::u16string u;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2)
    u.push_back(
        static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  return vq::Utf16ToWide(u);
}

}  // namespace vqtest
