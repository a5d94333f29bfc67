// Small helpers shared by the unit tests.
#pragma once

#include <cstdlib>
#include <string>

#include "common/Text.h"
#include "platform/File.h"

namespace vqtest {

// A fresh directory, ending in a separator, under this test process's one scratch root
// (TEMP/vq-tests-TICK-RANDOM/SUITE.TEST/). It is removed when the test passes and kept, with its path
// printed, when the test fails; the root goes when the process ends with nothing kept in it.
std::wstring MakeScratchDir(const std::wstring& name);

// The root itself, ending in a separator.
const std::wstring& ScratchRoot();

// Removes a directory and everything below it (read-only entries included); true when gone.
bool RemoveTree(const std::wstring& dir);

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
