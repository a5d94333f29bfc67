#include "platform/FileSystem.h"

#include <windows.h>

namespace vq::platform {

namespace {
thread_local int g_error = 0;

bool Fail() {
  g_error = static_cast<int>(GetLastError());
  return false;
}

UnixTime FromFileTime(const FILETIME& ft) {
  int64_t v = static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  return (v - 116444736000000000LL) / 10000000LL;
}

class Win32Stream : public FileStream {
 public:
  explicit Win32Stream(HANDLE h) : h_(h) {}
  ~Win32Stream() override { CloseHandle(h_); }

  int64_t Read(void* buf, size_t n) override {
    DWORD got = 0;
    DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
    if (!ReadFile(h_, buf, want, &got, nullptr)) {
      Fail();
      return -1;
    }
    return got;
  }

  size_t Write(const void* buf, size_t n) override {
    DWORD put = 0;
    DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
    if (!WriteFile(h_, buf, want, &put, nullptr)) {
      Fail();
      return 0;
    }
    return put;
  }

  bool SeekSet(uint64_t offset) override {
    LARGE_INTEGER li;
    li.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(h_, li, nullptr, FILE_BEGIN) != 0 || Fail();
  }

  bool Info(FileInfo* out) override {
    BY_HANDLE_FILE_INFORMATION bi;
    if (!GetFileInformationByHandle(h_, &bi)) return Fail();
    out->attributes = bi.dwFileAttributes;
    out->size = (static_cast<uint64_t>(bi.nFileSizeHigh) << 32) | bi.nFileSizeLow;
    out->modified = FromFileTime(bi.ftLastWriteTime);
    out->accessed = FromFileTime(bi.ftLastAccessTime);
    out->created = FromFileTime(bi.ftCreationTime);
    return true;
  }

 private:
  HANDLE h_;
};

DirEntry FromFindData(const WIN32_FIND_DATAW& fd) {
  DirEntry e;
  e.name = fd.cFileName;
  e.attributes = fd.dwFileAttributes;
  e.size = (static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
  e.modified = FromFileTime(fd.ftLastWriteTime);
  return e;
}

class Win32FileSystem : public FileSystem {
 public:
  std::unique_ptr<FileStream> OpenRead(const std::wstring& path) override {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      Fail();
      return nullptr;
    }
    return std::make_unique<Win32Stream>(h);
  }

  std::unique_ptr<FileStream> CreateAlways(const std::wstring& path) override {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      Fail();
      return nullptr;
    }
    return std::make_unique<Win32Stream>(h);
  }

  bool List(const std::wstring& dir, std::vector<DirEntry>* out) override {
    out->clear();
    std::wstring pattern = dir;
    if (pattern.empty() || (pattern.back() != L'\\' && pattern.back() != L'/')) pattern += L'\\';
    pattern += L"*";
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return Fail();
    do {
      if (wcscmp(fd.cFileName, L".") == 0 || wcscmp(fd.cFileName, L"..") == 0) continue;
      out->push_back(FromFindData(fd));
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return true;
  }

  bool Stat(const std::wstring& path, DirEntry* out) override {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(path.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return Fail();
    FindClose(h);
    DirEntry e = FromFindData(fd);
    out->attributes = e.attributes;
    out->size = e.size;
    out->modified = e.modified;
    return true;
  }

  bool Exists(const std::wstring& path) override {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES || Fail();
  }

  bool IsDirectory(const std::wstring& path) override {
    DWORD a = GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return Fail();
    return (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  bool Copy(const std::wstring& from, const std::wstring& to) override {
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != 0 || Fail();
  }

  bool Rename(const std::wstring& from, const std::wstring& to) override {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0 || Fail();
  }

  bool RemoveFile(const std::wstring& path) override { return DeleteFileW(path.c_str()) != 0 || Fail(); }

  bool RemoveDir(const std::wstring& path) override { return RemoveDirectoryW(path.c_str()) != 0 || Fail(); }

  bool CreateDirectoryTree(const std::wstring& path) override { return platform::CreateDirectoryTree(path); }

  bool GetAttributes(const std::wstring& path, uint32_t* out) override {
    DWORD a = GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return Fail();
    *out = a;
    return true;
  }

  bool SetAttributes(const std::wstring& path, uint32_t attributes) override {
    return SetFileAttributesW(path.c_str(), attributes) != 0 || Fail();
  }

  int LastError() override { return g_error; }
};

// The directory handle stays open for the life of the watcher; only the first 1024 bytes of
// records of each wait are delivered, as the platform fills them.
class Win32Watcher : public DirWatcher {
 public:
  explicit Win32Watcher(HANDLE h) : h_(h) {}
  ~Win32Watcher() override { CloseHandle(h_); }

  Result Wait(std::vector<Change>* out) override {
    out->clear();
    alignas(DWORD) unsigned char buf[1024] = {};
    DWORD got = 0;
    if (!ReadDirectoryChangesW(
            h_, buf, sizeof buf, TRUE,
            FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_LAST_WRITE, &got, nullptr,
            nullptr))
      return Result::Failed;
    if (got == 0) return Result::Overflow;
    size_t offset = 0;
    for (;;) {
      if (offset + sizeof(FILE_NOTIFY_INFORMATION) > got) break;
      const auto* r = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buf + offset);
      size_t units = r->FileNameLength / sizeof(WCHAR);
      if (offset + offsetof(FILE_NOTIFY_INFORMATION, FileName) + units * sizeof(WCHAR) > got) break;
      Change c;
      c.action = r->Action;
      c.name.assign(r->FileName, units);
      out->push_back(std::move(c));
      if (r->NextEntryOffset == 0) break;
      offset += r->NextEntryOffset;
    }
    if (out->empty()) return Result::Overflow;
    return Result::Changes;
  }

 private:
  HANDLE h_;
};

}  // namespace

FileSystem& RealFileSystem() {
  // Never destroyed: worker threads may still use it while the process ends.
  static FileSystem* fs = new Win32FileSystem();
  return *fs;
}

std::unique_ptr<DirWatcher> DirWatcher::Open(const std::wstring& dir) {
  HANDLE h = CreateFileW(dir.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32Watcher>(h);
}

}  // namespace vq::platform
