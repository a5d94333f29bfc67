#include "platform/File.h"

#include <windows.h>
#include <shlobj.h>

#include "platform/LongPath.h"

namespace vq::platform {

namespace {
thread_local int g_lastError = 0;

HANDLE H(void* h) { return static_cast<HANDLE>(h); }

UnixTime FromFileTime(const FILETIME& ft) {
  int64_t v = static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  return (v - 116444736000000000LL) / 10000000LL;
}
}  // namespace

File::~File() { Close(); }
File::File(File&& o) noexcept : h_(o.h_) { o.h_ = nullptr; }
File& File::operator=(File&& o) noexcept {
  if (this != &o) {
    Close();
    h_ = o.h_;
    o.h_ = nullptr;
  }
  return *this;
}

static void* Open(const std::wstring& path, DWORD access, DWORD share, DWORD disposition) {
  HANDLE h =
      CreateFileW(LongPathForm(path).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    g_lastError = static_cast<int>(GetLastError());
    return nullptr;
  }
  return h;
}

File File::OpenRead(const std::wstring& path) {
  File f;
  f.h_ = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  return f;
}

File File::CreateAlways(const std::wstring& path) {
  File f;
  f.h_ = Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
  return f;
}

File File::OpenAppendExclusive(const std::wstring& path, bool* created) {
  File f;
  f.h_ = Open(path, GENERIC_WRITE, 0, OPEN_EXISTING);
  bool made = false;
  if (!f.h_ && g_lastError == ERROR_FILE_NOT_FOUND) {
    f.h_ = Open(path, GENERIC_WRITE, 0, CREATE_NEW);
    if (f.h_)
      made = true;
    else if (g_lastError == ERROR_FILE_EXISTS)
      f.h_ = Open(path, GENERIC_WRITE, 0, OPEN_EXISTING);
  }
  if (f.h_ && created) *created = made;
  return f;
}

bool File::IsOpen() const { return h_ != nullptr; }

void File::Close() {
  if (h_) {
    CloseHandle(H(h_));
    h_ = nullptr;
  }
}

size_t File::Read(void* buf, size_t n) {
  if (!h_) return 0;
  DWORD got = 0;
  DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
  if (!ReadFile(H(h_), buf, want, &got, nullptr)) {
    g_lastError = static_cast<int>(GetLastError());
    return 0;
  }
  return got;
}

size_t File::Write(const void* buf, size_t n) {
  if (!h_) return 0;
  DWORD put = 0;
  DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
  if (!WriteFile(H(h_), buf, want, &put, nullptr)) {
    g_lastError = static_cast<int>(GetLastError());
    return 0;
  }
  return put;
}

bool File::SeekSet(uint64_t offset) {
  if (!h_) return false;
  LARGE_INTEGER li;
  li.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(H(h_), li, nullptr, FILE_BEGIN) != 0;
}

bool File::SeekEnd() {
  if (!h_) return false;
  LARGE_INTEGER li;
  li.QuadPart = 0;
  return SetFilePointerEx(H(h_), li, nullptr, FILE_END) != 0;
}

bool File::Info(FileInfo* out) const {
  if (!h_) return false;
  BY_HANDLE_FILE_INFORMATION bi;
  if (!GetFileInformationByHandle(H(h_), &bi)) {
    g_lastError = static_cast<int>(GetLastError());
    return false;
  }
  out->attributes = bi.dwFileAttributes;
  out->size = (static_cast<uint64_t>(bi.nFileSizeHigh) << 32) | bi.nFileSizeLow;
  out->modified = FromFileTime(bi.ftLastWriteTime);
  out->accessed = FromFileTime(bi.ftLastAccessTime);
  out->created = FromFileTime(bi.ftCreationTime);
  return true;
}

int File::LastError() { return g_lastError; }

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
