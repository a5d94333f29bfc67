#include "platform/FileSystem.h"

#include <windows.h>

#include "platform/LongPath.h"
#include "platform/NewFile.h"

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
  ~Win32Stream() override {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }

  bool Flush() override {
    if (h_ == INVALID_HANDLE_VALUE) return true;
    return FlushFileBuffers(h_) != 0 || Fail();
  }

  bool Close() override {
    if (h_ == INVALID_HANDLE_VALUE) return true;
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return CloseHandle(h) != 0 || Fail();
  }

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
    // The same contract as the POSIX stream: keep writing until all is written; a write that
    // takes nothing without an error means the disk is full.
    const char* p = static_cast<const char*>(buf);
    size_t done = 0;
    while (done < n) {
      DWORD put = 0;
      size_t left = n - done;
      DWORD want = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
      if (!WriteFile(h_, p + done, want, &put, nullptr)) {
        Fail();
        break;
      }
      if (put == 0) {
        g_error = ERROR_DISK_FULL;
        break;
      }
      done += put;
    }
    return done;
  }

  bool SeekSet(uint64_t offset) override {
    LARGE_INTEGER li;
    li.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(h_, li, nullptr, FILE_BEGIN) != 0 || Fail();
  }

  bool SeekEnd() override {
    LARGE_INTEGER li;
    li.QuadPart = 0;
    return SetFilePointerEx(h_, li, nullptr, FILE_END) != 0 || Fail();
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
    HANDLE h =
        CreateFileW(LongPathForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      Fail();
      return nullptr;
    }
    return std::make_unique<Win32Stream>(h);
  }

  std::unique_ptr<FileStream> CreateNew(const std::wstring& path) override {
    // CREATE_NEW fails on any existing name, a link or junction included.
    HANDLE h = CreateFileW(LongPathForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      Fail();
      return nullptr;
    }
    return std::make_unique<Win32Stream>(h);
  }

  std::unique_ptr<FileStream> OpenReadRegular(const std::wstring& path) override {
    // The link itself is opened, never its target, and then refused along with anything that
    // is not a plain disk file (a directory, a device, a pipe).
    HANDLE h = CreateFileW(LongPathForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      Fail();
      return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION bi;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &bi) ||
        (bi.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
      CloseHandle(h);
      g_error = ERROR_ACCESS_DENIED;
      return nullptr;
    }
    return std::make_unique<Win32Stream>(h);
  }

  std::unique_ptr<FileStream> CreateAlways(const std::wstring& path) override {
    HANDLE h = CreateFileW(LongPathForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      Fail();
      return nullptr;
    }
    return std::make_unique<Win32Stream>(h);
  }

  bool List(const std::wstring& dir, std::vector<DirEntry>* out) override {
    out->clear();
    std::wstring pattern = LongPathForm(dir);
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

  bool ListWithTimes(const std::wstring& dir, std::vector<DirEntry>* out) override { return List(dir, out); }

  bool Stat(const std::wstring& path, DirEntry* out) override {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(LongPathForm(path).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return Fail();
    FindClose(h);
    DirEntry e = FromFindData(fd);
    out->attributes = e.attributes;
    out->size = e.size;
    out->modified = e.modified;
    return true;
  }

  bool Exists(const std::wstring& path) override {
    return GetFileAttributesW(LongPathForm(path).c_str()) != INVALID_FILE_ATTRIBUTES || Fail();
  }

  bool IsDirectory(const std::wstring& path) override {
    DWORD a = GetFileAttributesW(LongPathForm(path).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return Fail();
    return (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  bool Copy(const std::wstring& from, const std::wstring& to) override {
    return CopyFileW(LongPathForm(from).c_str(), LongPathForm(to).c_str(), FALSE) != 0 || Fail();
  }

  bool Rename(const std::wstring& from, const std::wstring& to) override {
    return MoveFileExW(LongPathForm(from).c_str(), LongPathForm(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0 ||
           Fail();
  }

  bool MoveNoReplace(const std::wstring& from, const std::wstring& to, bool* exists) override {
    return platform::MoveNoReplace(from, to, exists) || Fail();
  }

  bool SetLastWriteTime(const std::wstring& path, UnixTime t) override {
    return platform::SetLastWriteTime(path, t) || Fail();
  }

  bool RemoveFile(const std::wstring& path) override { return DeleteFileW(LongPathForm(path).c_str()) != 0 || Fail(); }

  bool RemoveDir(const std::wstring& path) override {
    return RemoveDirectoryW(LongPathForm(path).c_str()) != 0 || Fail();
  }

  // Made here rather than by the shell's helper, which stops at 260 characters.
  bool CreateDirectoryTree(const std::wstring& path) override {
    std::wstring full = LongPathForm(path);
    while (!full.empty() && full.back() == L'\\') full.pop_back();
    DWORD a = GetFileAttributesW(full.c_str());
    if (a != INVALID_FILE_ATTRIBUTES) {
      if (a & FILE_ATTRIBUTE_DIRECTORY) return true;
      g_error = ERROR_ALREADY_EXISTS;  // a file stands where the folder should be
      return false;
    }
    size_t slash = full.rfind(L'\\');
    // Stop at the root ("\\?\C:" or the share): it cannot be made.
    if (slash != std::wstring::npos && slash > 7 && full.find(L'\\', 4) < slash) {
      std::wstring parent = full.substr(0, slash);
      if (parent.size() > 6 && !CreateDirectoryTree(parent)) return false;
    }
    if (CreateDirectoryW(full.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return true;
    return Fail();
  }

  bool GetAttributes(const std::wstring& path, uint32_t* out) override {
    DWORD a = GetFileAttributesW(LongPathForm(path).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return Fail();
    *out = a;
    return true;
  }

  bool SetAttributes(const std::wstring& path, uint32_t attributes) override {
    return SetFileAttributesW(LongPathForm(path).c_str(), attributes) != 0 || Fail();
  }

  int LastError() override { return g_error; }
};

}  // namespace

std::unique_ptr<FileStream> OpenAppendExclusiveStream(const std::wstring& path, bool* created) {
  const std::wstring p = LongPathForm(path);
  auto open = [&](DWORD disposition) {
    return CreateFileW(p.c_str(), GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  HANDLE h = open(OPEN_EXISTING);
  bool made = false;
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
    h = open(CREATE_NEW);
    if (h != INVALID_HANDLE_VALUE)
      made = true;
    else if (GetLastError() == ERROR_FILE_EXISTS)
      h = open(OPEN_EXISTING);
  }
  if (h == INVALID_HANDLE_VALUE) {
    Fail();
    return nullptr;
  }
  if (created) *created = made;
  return std::make_unique<Win32Stream>(h);
}

FileSystem& RealFileSystem() {
  // Never destroyed: worker threads may still use it while the process ends.
  static FileSystem* fs = new Win32FileSystem();
  return *fs;
}

}  // namespace vq::platform
