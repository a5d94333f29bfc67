#include "backup/Monitor.h"

#include <vector>

#include "backup/EngineState.h"
#include "common/Text.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
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

namespace {
constexpr uint32_t kFirstBackoffMs = 2000;
constexpr uint32_t kLastBackoffMs = 60000;
// The action codes of a change record (the Windows numbers on both builds).
constexpr uint32_t kActionAdded = 1;
constexpr uint32_t kActionRemoved = 2;
constexpr uint32_t kActionRenamedOld = 4;
constexpr uint32_t kActionRenamedNew = 5;

bool StartsWith(const std::wstring& s, const std::wstring& prefix) {
  return !prefix.empty() && s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}
}  // namespace

bool MonitIgnores(platform::FileSystem& fs, const std::wstring& watchedDir, const std::wstring& relName) {
  const std::wstring full = watchedDir + relName;
  std::wstring config = platform::ConfigDir();
  if (!config.empty() && !platform::IsSeparator(config.back())) config += platform::PathSeparator();
  if (StartsWith(full, config)) return true;
  if (full == platform::LogDir() + L"vq.l.txt") return true;
  size_t start = 0;
  while (start < relName.size()) {
    size_t end = relName.find_first_of(L"\\/", start);
    if (end == std::wstring::npos) end = relName.size();
    std::wstring part = relName.substr(start, end - start);
    if (platform::NameIsHidden(part)) return true;
    // Attributes can be read only while the part exists; a deleted file is judged by its folders.
    uint32_t attrs = 0;
    if (!part.empty() && fs.GetAttributes(watchedDir + relName.substr(0, end), &attrs) &&
        (attrs & (platform::kAttrHidden | platform::kAttrSystem)))
      return true;
    start = end + 1;
  }
  return false;
}

bool MonitNotification(platform::FileSystem& fs, const std::wstring& watchedDir,
                       const platform::DirWatcher::Change& change) {
  std::wstring path = watchedDir + change.name;
  if (AppSettings.vqDebug.load() != 0)
    WriteLog(L"ReadDirectoryChangesW:Action[%d] %s\r\n", static_cast<int>(change.action), path);
  const bool madeOrMovedIn = change.action == kActionAdded || change.action == kActionRenamedNew;
  const bool directory = fs.IsDirectory(path);
  if (directory && !madeOrMovedIn) return false;
  if (MonitExcludes(change.name, path, AppSettings.logFileName.Get())) return false;
  if (MonitIgnores(fs, watchedDir, change.name)) return false;
  if (directory) {
    // A folder renamed or moved in is one record on Windows, not one per file, and its files keep
    // their times: the next pass takes everything below it. An empty new folder wants no pass.
    CurrentReports().AddDir(path);
    std::vector<platform::DirEntry> inside;
    if (!fs.List(path, &inside) || inside.empty()) return false;
  } else if (change.action != kActionRemoved && change.action != kActionRenamedOld) {
    CurrentReports().AddFile(path);
  }
  srcChanged.store(1);
  return true;
}

std::unique_ptr<platform::DirWatcher> OpenSourceWatcher(const EngineServices& services, std::wstring* watched) {
  for (uint32_t attempt = 1;; ++attempt) {
    std::wstring dir = AppSettings.S_DIR_SRCDATA.Get();
    if (auto w = services.watchers.Open(dir)) {
      *watched = dir;
      return w;
    }
    if ((attempt & (attempt - 1)) == 0) WriteLog(L"Monit failed(%d),请检查[%s]是否存在\r\n", int(attempt), dir);
    services.clock.SleepMs(2000);
  }
}

uint32_t WatchBackoffMs(uint32_t previousMs) {
  if (previousMs == 0) return kFirstBackoffMs;
  return previousMs >= kLastBackoffMs / 2 ? kLastBackoffMs : previousMs * 2;
}

void MonitorStep(const EngineServices& services, MonitorLoop* loop) {
  if (!loop->watcher) loop->watcher = OpenSourceWatcher(services, &loop->dir);
  switch (loop->watcher->Wait(&loop->changes)) {
    case platform::DirWatcher::Result::Changes:
      if (loop->backoffMs != 0) {
        // Back after an outage: what changed while nobody watched is lost.
        CurrentReports().MarkLost();
        srcChanged.store(1);
      }
      loop->backoffMs = 0;
      // Every record counts: a file saved in the same burst as a new folder must not be lost
      // behind the folder's record.
      for (const auto& c : loop->changes) MonitNotification(services.fs, loop->dir, c);
      break;
    case platform::DirWatcher::Result::Overflow:
      loop->backoffMs = 0;
      // Changes were lost; one extra pass finds them, and it looks for files without archives,
      // since a file renamed or copied in among the lost ones has an old last-write time.
      CurrentReports().MarkLost();
      srcChanged.store(1);
      break;
    case platform::DirWatcher::Result::Failed:
      // The directory went away or the handle broke. A wait that fails at once every time must
      // not turn into a pass every few seconds: back off, and tell the outage once.
      if (loop->backoffMs == 0) {
        WriteLog(L"Monit 监控中断,稍后重新监控 %s\r\n", loop->dir);
        // One pass picks up whatever changed before the watch broke.
        CurrentReports().MarkLost();
        srcChanged.store(1);
      }
      loop->backoffMs = WatchBackoffMs(loop->backoffMs);
      loop->watcher.reset();
      services.clock.SleepMs(loop->backoffMs);
      loop->watcher = OpenSourceWatcher(services, &loop->dir);
      // Nobody watched during the pause, and the pass asked for above may have run before it
      // ended: what changed meanwhile is found only by a pass after the new watch is in place.
      // Waiting for the next change to say so would leave a quiet source unprotected for hours.
      // A watch that keeps failing thus costs a pass per pause (2 s doubling to a minute), no more.
      CurrentReports().MarkLost();
      srcChanged.store(1);
      break;
  }
}

void DirMonitThreadFun(const EngineServices& services) {
  WriteLog(L"DirMonitThreadFun...\r\n");
  MonitorLoop loop;
  loop.watcher = OpenSourceWatcher(services, &loop.dir);
  monitRunning.store(1);
  WriteLog(L"Monit 成功  开始监控 %s\r\n", loop.dir);
  for (;;) MonitorStep(services, &loop);
}

void DirMonitThreadFun() { DirMonitThreadFun(RealEngineServices()); }

}  // namespace vq
