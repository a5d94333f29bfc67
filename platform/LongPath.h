// The long-path form of Windows paths. A plain path stops at 260 characters; the same path
// behind "\\?\" (a drive) or "\\?\UNC\" (a share) reaches about 32,767, but then the system
// takes it literally: no "/" for "\", no "." or ".." and no doubled separators. The rule is a
// plain function of the text so both builds test it; only the Windows seam applies it.
#pragma once

#include <string>
#include <vector>

namespace vq::platform {

inline std::wstring LongPathForm(const std::wstring& path) {
  if (path.compare(0, 4, L"\\\\?\\") == 0 || path.compare(0, 4, L"\\\\.\\") == 0) return path;
  std::wstring p = path;
  for (wchar_t& c : p)
    if (c == L'/') c = L'\\';
  std::wstring prefix;
  size_t rootEnd = 0;  // the part kept as it is: "C:\" or "\\server\share\"
  if (p.size() >= 3 && p[1] == L':' && p[2] == L'\\' &&
      ((p[0] >= L'A' && p[0] <= L'Z') || (p[0] >= L'a' && p[0] <= L'z'))) {
    prefix = L"\\\\?\\";
    rootEnd = 3;
  } else if (p.size() > 2 && p[0] == L'\\' && p[1] == L'\\') {
    size_t server = p.find(L'\\', 2);
    if (server == std::wstring::npos || server == 2) return path;
    size_t share = p.find(L'\\', server + 1);
    if (share == server + 1) return path;
    prefix = L"\\\\?\\UNC\\";
    p.erase(0, 2);
    // After the erase the separator behind the share sits at share - 2; keep it.
    rootEnd = share == std::wstring::npos ? p.size() : share - 1;
  } else {
    return path;  // relative: the system resolves it against the current folder
  }
  std::vector<std::wstring> parts;
  bool trailing = p.size() > rootEnd && p.back() == L'\\';
  for (size_t at = rootEnd; at < p.size();) {
    size_t end = p.find(L'\\', at);
    if (end == std::wstring::npos) end = p.size();
    std::wstring part = p.substr(at, end - at);
    if (part == L"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != L".") {
      parts.push_back(std::move(part));
    }
    at = end + 1;
  }
  std::wstring out = prefix + p.substr(0, rootEnd);
  if (!out.empty() && out.back() != L'\\' && !parts.empty()) out += L'\\';
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out += L'\\';
    out += parts[i];
  }
  if (trailing && !parts.empty()) out += L'\\';
  return out;
}

}  // namespace vq::platform
