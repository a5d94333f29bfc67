#include "platform/DirWatcher.h"

#include <windows.h>

#include <cstddef>

#include "platform/LongPath.h"

namespace vq::platform {

namespace {

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
      // More changes queued since the last wait than the buffer holds: wine (and some file
      // systems) report that as a failed call rather than an empty success. The handle is
      // still good and keeps collecting; taking it for a broken watch would close it and lose
      // whatever changes while it is reopened.
      return GetLastError() == ERROR_NOTIFY_ENUM_DIR ? Result::Overflow : Result::Failed;
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

class RealWatchers : public DirWatchers {
 public:
  std::unique_ptr<DirWatcher> Open(const std::wstring& dir) override { return DirWatcher::Open(dir); }
};

}  // namespace

std::unique_ptr<DirWatcher> DirWatcher::Open(const std::wstring& dir) {
  HANDLE h = CreateFileW(LongPathForm(dir).c_str(), FILE_LIST_DIRECTORY,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32Watcher>(h);
}

DirWatchers& RealDirWatchers() {
  static DirWatchers* w = new RealWatchers();
  return *w;
}

}  // namespace vq::platform
