#include "platform/Paths.h"

#include <windows.h>
#include <shlobj.h>

namespace vq::platform {

wchar_t PathSeparator() { return L'\\'; }
size_t RootLength() { return 3; }
bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring ProgramPath() {
  std::wstring buf(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, &buf[0], static_cast<DWORD>(buf.size()));
  if (n == 0 || n >= buf.size()) return L"";
  buf.resize(n);
  return buf;
}

std::wstring ProgramDir() {
  std::wstring p = ProgramPath();
  size_t slash = p.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return L".\\";
  return p.substr(0, slash + 1);
}

std::wstring LogDir() { return ProgramDir(); }

std::wstring DocumentsFolder() {
  wchar_t buf[MAX_PATH + 1] = {0};
  if (!SHGetSpecialFolderPathW(nullptr, buf, CSIDL_PERSONAL, FALSE) || buf[0] == 0) return L"";
  std::wstring p = buf;
  while (p.size() > 3 && p.back() == L'\\') p.pop_back();
  return p;
}

std::wstring ProfileFolder() {
  wchar_t buf[MAX_PATH + 1] = {0};
  if (SHGetSpecialFolderPathW(nullptr, buf, CSIDL_PROFILE, FALSE) && buf[0] != 0) return buf;
  DWORD n = GetEnvironmentVariableW(L"USERPROFILE", buf, MAX_PATH);
  if (n > 0 && n < MAX_PATH) return buf;
  return L"";
}

std::wstring TempPathLong() {
  wchar_t tmp[260];
  DWORD n = GetTempPathW(260, tmp);
  if (n == 0 || n > 260) return L"";
  wchar_t longBuf[260];
  DWORD m = GetLongPathNameW(tmp, longBuf, 260);
  if (m == 0 || m > 260) return L"";
  return longBuf;
}

std::wstring ConfigDir() { return L""; }

}  // namespace vq::platform

namespace vq::platform {
bool NameIsHidden(const std::wstring&) { return false; }

std::wstring FoldNameCase(const std::wstring& name) {
  if (name.empty()) return name;
  // The invariant upper case maps one character to one, as the file system's own table does (it
  // fails only on arguments it cannot take; the name then stays as it is).
  std::wstring out(name.size(), L'\0');
  const int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, name.data(), int(name.size()), &out[0],
                              int(out.size()), nullptr, nullptr, 0);
  if (n != int(name.size())) return name;
  return out;
}
}  // namespace vq::platform
