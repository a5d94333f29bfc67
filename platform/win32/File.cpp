#include "platform/File.h"

#include <windows.h>
#include <shlobj.h>

#include "platform/LongPath.h"

namespace vq::platform {

bool WriteFileAtomically(const std::wstring& path, const std::string& data) {
  std::wstring tmp = path + L".tmp";
  HANDLE h = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  bool ok = WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &put, nullptr) && put == data.size();
  ok = FlushFileBuffers(h) && ok;
  CloseHandle(h);
  if (ok) ok = MoveFileExW(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!ok) DeleteFileW(tmp.c_str());
  return ok;
}

bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(LongPathForm(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::wstring& path) {
  DWORD a = GetFileAttributesW(LongPathForm(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DeleteFilePath(const std::wstring& path) { return DeleteFileW(LongPathForm(path).c_str()) != 0; }

bool CreateDirectoryTree(const std::wstring& path) {
  // SHCreateDirectoryExW wants a full path without a trailing backslash.
  std::wstring p = path;
  while (p.size() > 3 && (p.back() == L'\\' || p.back() == L'/')) p.pop_back();
  for (wchar_t& c : p)
    if (c == L'/') c = L'\\';
  int rc = SHCreateDirectoryExW(nullptr, p.c_str(), nullptr);
  return rc == ERROR_SUCCESS || rc == ERROR_ALREADY_EXISTS || rc == ERROR_FILE_EXISTS;
}

}  // namespace vq::platform
