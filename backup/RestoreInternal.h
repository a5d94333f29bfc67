// Small path and name helpers shared by the files of getting data back (verify, versions, restore);
// not part of the engine's interface.
#pragma once

#include <string>
#include <string_view>

#include "common/Text.h"
#include "platform/Paths.h"

namespace vq {
namespace restore_detail {

inline bool IsDigits(const std::wstring& s, size_t at, size_t n) {
  for (size_t i = at; i < at + n; ++i)
    if (s[i] < L'0' || s[i] > L'9') return false;
  return true;
}

inline int Number(const std::wstring& s, size_t at, size_t n) {
  int v = 0;
  for (size_t i = at; i < at + n; ++i) v = v * 10 + (s[i] - L'0');
  return v;
}

inline bool EndsWithZip(const std::wstring& name) {
  return name.size() > 4 && EqualsIgnoreAsciiCase(std::wstring_view(name).substr(name.size() - 4), L".zip");
}

inline std::wstring WithSeparator(std::wstring dir) {
  if (!dir.empty() && !platform::IsSeparator(dir.back())) dir.push_back(platform::PathSeparator());
  return dir;
}

// The folder part of a path (with its separator) and the name after it.
inline void SplitPath(const std::wstring& path, std::wstring* folder, std::wstring* name) {
  size_t at = path.size();
  while (at > 0 && !platform::IsSeparator(path[at - 1])) --at;
  *folder = path.substr(0, at);
  *name = path.substr(at);
}

}  // namespace restore_detail
}  // namespace vq
