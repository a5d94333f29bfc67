#include "backup/Monitor.h"

#include <vector>

#include "backup/EngineState.h"
#include "common/Text.h"
#include "platform/Clock.h"
#include "settings/AppSettings.h"
#include "settings/Log.h"

namespace vq {

bool MonitExcludes(const std::wstring& relName, const std::wstring& changePath, const std::wstring& logFileName) {
  size_t start = 0;
  while (start <= relName.size()) {
    size_t end = relName.find_first_of(L"\\/", start);
    if (end == std::wstring::npos) end = relName.size();
    std::wstring_view part(relName.data() + start, end - start);
    if (EqualsIgnoreAsciiCase(part, L"$RECYCLE.BIN") || EqualsIgnoreAsciiCase(part, L"ups")) return true;
    start = end + 1;
  }
  if (!logFileName.empty() && AsciiLower(changePath).find(AsciiLower(logFileName)) != std::wstring::npos) return true;
  return false;
}

bool MonitNotification(platform::FileSystem& fs, const std::wstring& watchedDir,
                       const platform::DirWatcher::Change& change) {
  std::wstring path = watchedDir + change.name;
  if (AppSettings.vqDebug.load() != 0)
    WriteLog(L"ReadDirectoryChangesW:Action[%d] %s\r\n", static_cast<int>(change.action), path);
  if (fs.IsDirectory(path)) return false;
  if (MonitExcludes(change.name, path, AppSettings.logFileName.Get())) return false;
  srcChanged.store(1);
  return true;
}

std::unique_ptr<platform::DirWatcher> OpenSourceWatcher(std::wstring* watched) {
  for (uint32_t attempt = 1;; ++attempt) {
    std::wstring dir = AppSettings.S_DIR_SRCDATA.Get();
    if (auto w = platform::DirWatcher::Open(dir)) {
      *watched = dir;
      return w;
    }
    if ((attempt & (attempt - 1)) == 0) WriteLog(L"Monit failed(%d),请检查[%s]是否存在\r\n", int(attempt), dir);
    platform::SleepMs(2000);
  }
}

void DirMonitThreadFun() {
  platform::FileSystem& fs = platform::RealFileSystem();
  WriteLog(L"DirMonitThreadFun...\r\n");
  std::wstring dir;
  std::unique_ptr<platform::DirWatcher> watcher = OpenSourceWatcher(&dir);
  monitRunning.store(1);
  WriteLog(L"Monit 成功  开始监控 %s\r\n", dir);
  std::vector<platform::DirWatcher::Change> changes;
  for (;;) {
    switch (watcher->Wait(&changes)) {
      case platform::DirWatcher::Result::Changes:
        // Every record counts: a file saved in the same burst as a new folder must not be lost
        // behind the folder's record.
        for (const auto& c : changes) MonitNotification(fs, dir, c);
        break;
      case platform::DirWatcher::Result::Overflow:
        // Changes were lost; one extra pass finds them.
        srcChanged.store(1);
        break;
      case platform::DirWatcher::Result::Failed:
        // The directory went away or the handle broke: pause, open it again, and let a pass
        // pick up whatever happened meanwhile.
        watcher.reset();
        platform::SleepMs(2000);
        watcher = OpenSourceWatcher(&dir);
        srcChanged.store(1);
        break;
    }
  }
}

}  // namespace vq
