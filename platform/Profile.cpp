// The profile-file rules shared by both builds; the Windows build reads the files themselves
// through the system, the POSIX build through ProfileStringFromText.
#include <cwctype>

#include "platform/Shell.h"

namespace vq::platform {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\v' || c == L'\f'; }

std::wstring Trim(const std::wstring& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool SameName(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) return false;
  return true;
}

}  // namespace

std::wstring ProfileStringFromText(const std::wstring& text, const std::wstring& section, const std::wstring& key,
                                   size_t maxChars) {
  const std::wstring wantSection = Trim(section), wantKey = Trim(key);
  bool inSection = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(L'\n', pos);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == L';') continue;
    if (line[0] == L'[') {
      size_t close = line.find(L']');
      std::wstring name = Trim(line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1));
      // Only the first section of the name counts, as in the system's reader.
      if (inSection) return L"";
      inSection = SameName(name, wantSection);
      continue;
    }
    if (!inSection) continue;
    size_t eq = line.find(L'=');
    std::wstring name = Trim(line.substr(0, eq));
    if (!SameName(name, wantKey)) continue;
    std::wstring value = eq == std::wstring::npos ? L"" : Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value[0] == L'"' || value[0] == L'\'') && value.back() == value[0])
      value = value.substr(1, value.size() - 2);
    if (value.size() > maxChars) value.resize(maxChars);
    return value;
  }
  return L"";
}

}  // namespace vq::platform
