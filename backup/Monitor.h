// The change monitor: watches the source tree and asks the worker for a pass (srcChanged) when a
// file below it changes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "backup/Services.h"
#include "platform/FileSystem.h"

namespace vq {

// Whether a change must not start a pass. relName is the changed path relative to the source
// directory: a component named "$RECYCLE.BIN" or "ups" (whole names, any case) excludes it, and
// so does the log file's name anywhere in the full change path (any case). Components above the
// source directory do not count: a source under D:\Backups\ is watched like any other.
bool MonitExcludes(const std::wstring& relName, const std::wstring& changePath, const std::wstring& logFileName);

// Whether a change is to something the walk never backs up or to the program's own files: a
// hidden or system part of relName below the watched directory (by name or attribute), the
// configuration directory (settings store, lock files) and the product-information log. Without
// this, a source at the home folder sees every settings save and starts pass after pass.
bool MonitIgnores(platform::FileSystem& fs, const std::wstring& watchedDir, const std::wstring& relName);

// One change record: the debug line, then directories and excluded paths are ignored, anything
// else sets srcChanged. True when the flag was set.
bool MonitNotification(platform::FileSystem& fs, const std::wstring& watchedDir,
                       const platform::DirWatcher::Change& change);

// Opens the source directory for watching, retrying every 2 s and logging the attempts 1, 2, 4,
// 8, ...; *watched receives the directory opened.
std::unique_ptr<platform::DirWatcher> OpenSourceWatcher(const EngineServices& services, std::wstring* watched);

// The monitor loop's state between waits.
struct MonitorLoop {
  std::wstring dir;
  std::unique_ptr<platform::DirWatcher> watcher;
  uint32_t backoffMs = 0;  // 0 while waits succeed; else the pause before the next attempt
  std::vector<platform::DirWatcher::Change> changes;
};
// The pause after the n-th failed wait in a row (n from 1): 2 s doubling to a minute.
uint32_t WatchBackoffMs(uint32_t previousMs);
// One wait of the monitor and what follows it. A failed wait starts or continues an outage: the
// first failure logs one line and asks for one pass; each pauses (2 s doubling to a minute),
// opens the directory again and asks for a pass that covers the pause. A wait that returns ends
// the outage. An overflow keeps the watch and asks for a pass.
void MonitorStep(const EngineServices& services, MonitorLoop* loop);

// The monitor thread: never returns.
void DirMonitThreadFun(const EngineServices& services);
void DirMonitThreadFun();

}  // namespace vq
