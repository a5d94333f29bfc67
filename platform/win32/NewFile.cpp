#include "platform/NewFile.h"

#include <windows.h>

#include "platform/LongPath.h"

namespace vq::platform {

bool MoveNoReplace(const std::wstring& from, const std::wstring& to, bool* exists) {
  *exists = false;
  // Deep restored files need the long form, as every call of the file-system seam does.
  if (MoveFileExW(LongPathForm(from).c_str(), LongPathForm(to).c_str(), MOVEFILE_WRITE_THROUGH)) return true;
  const DWORD e = GetLastError();
  *exists = e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS;
  return false;
}

bool SetLastWriteTime(const std::wstring& path, UnixTime t) {
  HANDLE h = CreateFileW(LongPathForm(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const uint64_t v = static_cast<uint64_t>(t * 10000000LL + 116444736000000000LL);
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(v);
  ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
  const bool ok = SetFileTime(h, nullptr, nullptr, &ft) != 0;
  CloseHandle(h);
  return ok;
}

}  // namespace vq::platform
